// Reading the certificate table's place from a PE header, and stepping back
// from the table over its alignment padding to the package's trailer.
//
// The PE fields read here (little-endian):
//   0x00          "MZ"
//   0x3C          u32 e_lfanew: file offset of the PE signature
//   e_lfanew      "PE\0\0", then the 20-byte COFF header, whose u16 at 16 is
//                 SizeOfOptionalHeader; the optional header follows it
//   optional header, from its start:
//     0           u16 magic: 0x10B (PE32) or 0x20B (PE32+)
//     92 / 108    u32 NumberOfRvaAndSizes (PE32 / PE32+)
//     96 / 112    data directories, 8 bytes each: u32 address, u32 size
//   data directory 4 is the certificate table; unlike every other entry its
//   address is a file offset, not a virtual address.
#include "package/signed_carrier.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "package/fields.h"
#include "package/layout.h"

namespace package {
namespace {

constexpr std::uint64_t kPeOffsetField = 0x3C;
constexpr std::uint64_t kPeSignatureSize = 4;
constexpr std::uint64_t kCoffHeaderSize = 20;
constexpr std::uint64_t kOptionalHeaderSizeField = 16;  // within the COFF header
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint64_t kPe32DirectoryCountField = 92;
constexpr std::uint64_t kPe32PlusDirectoryCountField = 108;
constexpr std::uint32_t kCertificateDirectory = 4;
constexpr std::uint64_t kDirectoryEntrySize = 8;
// Signing tools align the certificate table to 8 bytes with zeros.
constexpr std::size_t kMaxAlignmentPadding = 7;

// Positions the stream on `offset` when `count` bytes from there lie within
// the carrier's `size` bytes. All arithmetic is 64-bit, so offsets taken
// from the file cannot wrap, and the cast to long stays below the size.
bool SeekWithin(std::FILE* carrier, std::uint64_t size, std::uint64_t offset, std::uint64_t count) {
  return offset <= size && count <= size - offset &&
         std::fseek(carrier, static_cast<long>(offset), SEEK_SET) == 0;
}

bool ReadBytesAt(std::FILE* carrier, std::uint64_t size, std::uint64_t offset, void* bytes,
                 std::size_t count) {
  return SeekWithin(carrier, size, offset, count) && std::fread(bytes, 1, count, carrier) == count;
}

bool BytesAtEqual(std::FILE* carrier, std::uint64_t size, std::uint64_t offset, const char* expected,
                  std::size_t count) {
  char bytes[kPeSignatureSize];
  return count <= sizeof bytes && ReadBytesAt(carrier, size, offset, bytes, count) &&
         std::memcmp(bytes, expected, count) == 0;
}

bool ReadU16At(std::FILE* carrier, std::uint64_t size, std::uint64_t offset, std::uint16_t& value) {
  return SeekWithin(carrier, size, offset, 2) && ReadU16(carrier, value);
}

bool ReadU32At(std::FILE* carrier, std::uint64_t size, std::uint64_t offset, std::uint32_t& value) {
  return SeekWithin(carrier, size, offset, 4) && ReadU32(carrier, value);
}

// The certificate table that the header names; nothing for a carrier that
// is no PE file, has a damaged header or names an empty table or one that
// runs past the end of the file.
std::optional<CertificateTable> ReadCertificateTable(std::FILE* carrier, std::uint64_t size) {
  std::uint32_t peOffset = 0;
  if (!BytesAtEqual(carrier, size, 0, "MZ", 2) || !ReadU32At(carrier, size, kPeOffsetField, peOffset) ||
      !BytesAtEqual(carrier, size, peOffset, "PE\0\0", kPeSignatureSize)) {
    return std::nullopt;
  }
  const std::uint64_t coffHeader = std::uint64_t{peOffset} + kPeSignatureSize;
  const std::uint64_t optionalHeader = coffHeader + kCoffHeaderSize;
  std::uint16_t optionalHeaderSize = 0;
  std::uint16_t magic = 0;
  if (!ReadU16At(carrier, size, coffHeader + kOptionalHeaderSizeField, optionalHeaderSize) ||
      !ReadU16At(carrier, size, optionalHeader, magic)) {
    return std::nullopt;
  }
  std::uint64_t directoryCountField = 0;
  if (magic == kPe32Magic) {
    directoryCountField = kPe32DirectoryCountField;
  } else if (magic == kPe32PlusMagic) {
    directoryCountField = kPe32PlusDirectoryCountField;
  } else {
    return std::nullopt;
  }
  // The directories follow their count; the certificate entry must be both
  // counted and inside the optional header that the COFF header announces.
  const std::uint64_t entry = directoryCountField + 4 + kCertificateDirectory * kDirectoryEntrySize;
  std::uint32_t directoryCount = 0;
  std::uint32_t tableOffset = 0;
  std::uint32_t tableSize = 0;
  if (!ReadU32At(carrier, size, optionalHeader + directoryCountField, directoryCount) ||
      directoryCount <= kCertificateDirectory || entry + kDirectoryEntrySize > optionalHeaderSize ||
      !ReadU32At(carrier, size, optionalHeader + entry, tableOffset) ||
      !ReadU32At(carrier, size, optionalHeader + entry + 4, tableSize)) {
    return std::nullopt;
  }
  // An unsigned file has offset and size 0 here.
  if (tableSize == 0 || std::uint64_t{tableOffset} + tableSize > size) return std::nullopt;
  return CertificateTable{tableOffset, tableSize};
}

// The file offset of the certificate table when the carrier is a PE file
// whose certificate table ends exactly at the end of the file. Signing
// appends the table, so a table that stops short of the end is none that a
// package stands before.
std::optional<std::uint64_t> CertificateTableStart(std::FILE* carrier, std::uint64_t size) {
  const std::optional<CertificateTable> table = ReadCertificateTable(carrier, size);
  if (!table || table->offset + table->size != size) return std::nullopt;
  return table->offset;
}

}  // namespace

std::optional<CertificateTable> FindCertificateTable(std::FILE* carrier, long size) {
  if (size < 0) return std::nullopt;
  return ReadCertificateTable(carrier, static_cast<std::uint64_t>(size));
}

std::optional<long> SignedPackageEnd(std::FILE* carrier, long size) {
  if (size < 0) return std::nullopt;
  const std::optional<std::uint64_t> tableStart = CertificateTableStart(carrier, static_cast<std::uint64_t>(size));
  if (!tableStart) return std::nullopt;

  // Read the bytes before the table once: the trailer and up to 7 zeros.
  unsigned char tail[kTrailerSize + kMaxAlignmentPadding];
  const std::size_t tailSize = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof tail, *tableStart));
  if (!ReadBytesAt(carrier, static_cast<std::uint64_t>(size), *tableStart - tailSize, tail, tailSize)) {
    return std::nullopt;
  }
  // Widen the padding one byte at a time while it holds only zeros; the
  // narrowest width with the tag "feof" right before it ends the package.
  // The tag holds no zero byte, so zeros that end the trailer's length are
  // never taken for padding in front of the tag.
  for (std::size_t padding = 0; padding + kTrailerSize <= tailSize; ++padding) {
    if (padding > 0 && tail[tailSize - padding] != 0) break;
    const unsigned char* trailer = tail + tailSize - padding - kTrailerSize;
    if (std::memcmp(trailer, kEndTag, kTagSize) == 0) return static_cast<long>(*tableStart - padding);
  }
  return std::nullopt;
}

}  // namespace package
