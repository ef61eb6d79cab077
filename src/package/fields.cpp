// Little-endian field I/O for the package layout.
#include "package/fields.h"

#include <cstring>

namespace package {
namespace {

template <std::size_t N>
bool WriteLittleEndian(std::FILE* stream, std::uint64_t value) {
  unsigned char bytes[N];
  for (std::size_t i = 0; i < N; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
  return std::fwrite(bytes, 1, N, stream) == N;
}

template <std::size_t N>
bool ReadLittleEndian(std::FILE* stream, std::uint64_t& value) {
  unsigned char bytes[N];
  if (std::fread(bytes, 1, N, stream) != N) return false;
  value = 0;
  for (std::size_t i = 0; i < N; ++i) value |= std::uint64_t{bytes[i]} << (8 * i);
  return true;
}

}  // namespace

bool WriteTag(std::FILE* stream, const RecordTag& tag) {
  return std::fwrite(tag, 1, kTagSize, stream) == kTagSize;
}

bool ReadTag(std::FILE* stream, RecordTag& tag) {
  return std::fread(tag, 1, kTagSize, stream) == kTagSize;
}

bool TagEquals(const RecordTag& a, const RecordTag& b) {
  return std::memcmp(a, b, kTagSize) == 0;
}

bool WriteU16(std::FILE* stream, std::uint16_t value) { return WriteLittleEndian<2>(stream, value); }
bool WriteU32(std::FILE* stream, std::uint32_t value) { return WriteLittleEndian<4>(stream, value); }
bool WriteU64(std::FILE* stream, std::uint64_t value) { return WriteLittleEndian<8>(stream, value); }

bool ReadU16(std::FILE* stream, std::uint16_t& value) {
  std::uint64_t wide;
  if (!ReadLittleEndian<2>(stream, wide)) return false;
  value = static_cast<std::uint16_t>(wide);
  return true;
}

bool ReadU32(std::FILE* stream, std::uint32_t& value) {
  std::uint64_t wide;
  if (!ReadLittleEndian<4>(stream, wide)) return false;
  value = static_cast<std::uint32_t>(wide);
  return true;
}

bool ReadU64(std::FILE* stream, std::uint64_t& value) { return ReadLittleEndian<8>(stream, value); }

}  // namespace package
