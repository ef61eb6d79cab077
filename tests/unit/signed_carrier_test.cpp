// Finding the package of a signed carrier: a PE file whose certificate table,
// appended by the signing tool, follows the package and up to 7 zeros.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

#include "package/signed_carrier.h"
#include "package/trailer.h"

namespace {

using Bytes = std::vector<unsigned char>;
using package::LocateResult;

void PutU16(Bytes& bytes, std::size_t offset, std::uint16_t value) {
  for (std::size_t i = 0; i < 2; ++i) bytes[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

void PutU32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) bytes[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

void Append(Bytes& bytes, const Bytes& more) { bytes.insert(bytes.end(), more.begin(), more.end()); }

enum class PeFormat { kPe32, kPe32Plus };

// A signed carrier built byte by byte, with the places the cases change.
struct SignedCarrier {
  Bytes bytes;
  std::size_t optionalHeaderSize = 0;  // SizeOfOptionalHeader in the COFF header
  std::size_t optionalHeader = 0;
  std::size_t directoryCount = 0;      // NumberOfRvaAndSizes
  std::size_t certificateEntry = 0;    // data directory 4: file offset, size
  std::size_t packageStart = 0;
  std::size_t trailer = 0;
  std::size_t tableStart = 0;
};

constexpr std::size_t kPeOffset = 0x80;  // e_lfanew: after the DOS header and stub
constexpr std::size_t kTableSize = 16;

// "MZ", e_lfanew, "PE\0\0", a COFF header and an optional header with 16
// data directories; then the package (`payload` and its trailer), `padding`
// zeros, and a certificate table that entry 4 names.
SignedCarrier MakeSignedCarrier(PeFormat format, const Bytes& payload, std::size_t padding) {
  const bool plus = format == PeFormat::kPe32Plus;
  SignedCarrier c;
  c.optionalHeaderSize = plus ? 240 : 224;
  c.optionalHeader = kPeOffset + 4 + 20;
  c.directoryCount = c.optionalHeader + (plus ? 108 : 92);
  c.certificateEntry = c.directoryCount + 4 + 4 * 8;
  c.packageStart = c.optionalHeader + c.optionalHeaderSize;

  c.bytes.assign(c.packageStart, 0);
  c.bytes[0] = 'M';
  c.bytes[1] = 'Z';
  PutU32(c.bytes, 0x3C, kPeOffset);
  c.bytes[kPeOffset] = 'P';
  c.bytes[kPeOffset + 1] = 'E';
  PutU16(c.bytes, kPeOffset + 4 + 16, static_cast<std::uint16_t>(c.optionalHeaderSize));
  PutU16(c.bytes, c.optionalHeader, plus ? 0x20B : 0x10B);
  PutU32(c.bytes, c.directoryCount, 16);

  Append(c.bytes, payload);
  c.trailer = c.bytes.size();
  Append(c.bytes, {'f', 'e', 'o', 'f', 0, 0, 0, 0});
  PutU32(c.bytes, c.trailer + 4, static_cast<std::uint32_t>(payload.size()));
  c.bytes.resize(c.bytes.size() + padding, 0);
  c.tableStart = c.bytes.size();
  // WIN_CERTIFICATE: length, revision 2.0, PKCS #7 type, then its content.
  Append(c.bytes, {kTableSize, 0, 0, 0, 0x00, 0x02, 0x02, 0x00, 0x30, 0x82, 0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45});
  PutU32(c.bytes, c.certificateEntry, static_cast<std::uint32_t>(c.tableStart));
  PutU32(c.bytes, c.certificateEntry + 4, kTableSize);
  return c;
}

struct Located {
  LocateResult result;
  long position;  // where the stream stands afterwards
  package::PackageBounds bounds;
};

Located Locate(const Bytes& carrier) {
  std::FILE* stream = std::tmpfile();
  EXPECT_NE(stream, nullptr);
  EXPECT_EQ(std::fwrite(carrier.data(), 1, carrier.size(), stream), carrier.size());
  package::PackageBounds bounds;
  const LocateResult result = package::LocatePackage(stream, bounds);
  const Located located{result, std::ftell(stream), bounds};
  std::fclose(stream);
  return located;
}

std::optional<package::CertificateTable> TableOf(const Bytes& carrier) {
  std::FILE* stream = std::tmpfile();
  EXPECT_NE(stream, nullptr);
  EXPECT_EQ(std::fwrite(carrier.data(), 1, carrier.size(), stream), carrier.size());
  const std::optional<package::CertificateTable> table =
      package::FindCertificateTable(stream, static_cast<long>(carrier.size()));
  std::fclose(stream);
  return table;
}

const PeFormat kFormats[] = {PeFormat::kPe32, PeFormat::kPe32Plus};

const char* NameOf(PeFormat format) { return format == PeFormat::kPe32 ? "PE32" : "PE32+"; }

TEST(SignedCarrier, FindsThePackageBehindAnyAlignmentPadding) {
  // An empty package's length is four zeros, which run into the padding.
  const Bytes payloads[] = {{}, {'x', 'y', 'z'}};
  for (const PeFormat format : kFormats) {
    for (const Bytes& payload : payloads) {
      for (std::size_t padding = 0; padding <= 7; ++padding) {
        SCOPED_TRACE(testing::Message() << NameOf(format) << ", payload " << payload.size() << ", padding "
                                        << padding);
        const SignedCarrier carrier = MakeSignedCarrier(format, payload, padding);
        const Located located = Locate(carrier.bytes);
        EXPECT_EQ(located.result, LocateResult::kFound);
        EXPECT_EQ(located.position, static_cast<long>(carrier.packageStart));
        EXPECT_EQ(located.bounds.start, static_cast<long>(carrier.packageStart));
        EXPECT_EQ(located.bounds.end, static_cast<long>(carrier.trailer + 8));
      }
    }
  }
}

TEST(SignedCarrier, TrailerAtTheEndWinsOverTheCertificateTable) {
  struct Case {
    const char* name;
    std::function<void(SignedCarrier&)> change;
    std::function<std::size_t(const SignedCarrier&)> packageStart;
  };
  const Case cases[] = {
      {"unsigned PE carrier",
       [](SignedCarrier& c) {
         c.bytes.resize(c.trailer + 8);
         PutU32(c.bytes, c.certificateEntry, 0);
         PutU32(c.bytes, c.certificateEntry + 4, 0);
       },
       [](const SignedCarrier& c) { return c.packageStart; }},
      {"packed again after signing",
       [](SignedCarrier& c) { Append(c.bytes, {'f', 'e', 'o', 'f', 0, 0, 0, 0}); },
       [](const SignedCarrier& c) { return c.bytes.size() - 8; }},
  };
  for (const PeFormat format : kFormats) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << NameOf(format) << ": " << c.name);
      SignedCarrier carrier = MakeSignedCarrier(format, {'x', 'y', 'z'}, 3);
      c.change(carrier);
      const Located located = Locate(carrier.bytes);
      EXPECT_EQ(located.result, LocateResult::kFound);
      EXPECT_EQ(located.position, static_cast<long>(c.packageStart(carrier)));
    }
  }
}

TEST(SignedCarrier, MalformedCarriersHaveNoPackage) {
  struct Case {
    const char* name;
    std::size_t padding;
    std::function<void(SignedCarrier&)> change;
    LocateResult result = LocateResult::kNoPackage;
  };
  const Case cases[] = {
      {"eight zeros before the table", 8, [](SignedCarrier&) {}},
      {"nonzero padding", 3, [](SignedCarrier& c) { c.bytes[c.tableStart - 2] = 1; }},
      {"no trailer before the padding", 3, [](SignedCarrier& c) { c.bytes[c.trailer] = 'F'; }},
      {"no certificate table", 3,
       [](SignedCarrier& c) {
         PutU32(c.bytes, c.certificateEntry, 0);
         PutU32(c.bytes, c.certificateEntry + 4, 0);
       }},
      {"empty table at the end", 3,
       [](SignedCarrier& c) {
         c.bytes.resize(c.tableStart);
         PutU32(c.bytes, c.certificateEntry + 4, 0);
       }},
      {"table ends before the end", 3, [](SignedCarrier& c) { c.bytes.push_back(0); }},
      {"table size reaches past the end", 3,
       [](SignedCarrier& c) { PutU32(c.bytes, c.certificateEntry + 4, kTableSize + 1); }},
      {"table offset past the end", 3,
       [](SignedCarrier& c) { PutU32(c.bytes, c.certificateEntry, static_cast<std::uint32_t>(c.bytes.size() + 8)); }},
      {"offset and size whose 32-bit sum wraps to the end", 3,
       [](SignedCarrier& c) {
         PutU32(c.bytes, c.certificateEntry, static_cast<std::uint32_t>(c.tableStart + 0x80000000u));
         PutU32(c.bytes, c.certificateEntry + 4, kTableSize + 0x80000000u);
       }},
      {"no MZ", 3, [](SignedCarrier& c) { c.bytes[1] = 'X'; }},
      {"e_lfanew at 4 GiB", 3, [](SignedCarrier& c) { PutU32(c.bytes, 0x3C, 0xFFFFFFFFu); }},
      {"e_lfanew on the last bytes", 3,
       [](SignedCarrier& c) { PutU32(c.bytes, 0x3C, static_cast<std::uint32_t>(c.bytes.size() - 2)); }},
      {"no PE signature", 3, [](SignedCarrier& c) { c.bytes[kPeOffset + 2] = 'X'; }},
      {"ROM image magic", 3, [](SignedCarrier& c) { PutU16(c.bytes, c.optionalHeader, 0x107); }},
      {"four data directories", 3, [](SignedCarrier& c) { PutU32(c.bytes, c.directoryCount, 4); }},
      {"optional header ends inside entry 4", 3,
       [](SignedCarrier& c) {
         PutU16(c.bytes, kPeOffset + 4 + 16, static_cast<std::uint16_t>(c.certificateEntry + 7 - c.optionalHeader));
       }},
      {"cut inside the DOS header", 3, [](SignedCarrier& c) { c.bytes.resize(0x3E); }},
      {"cut inside the PE signature", 3, [](SignedCarrier& c) { c.bytes.resize(kPeOffset + 2); }},
      {"cut before the directory count", 3, [](SignedCarrier& c) { c.bytes.resize(c.directoryCount + 2); }},
      {"cut inside entry 4", 3, [](SignedCarrier& c) { c.bytes.resize(c.certificateEntry + 6); }},
      {"payload length before the carrier", 3,
       [](SignedCarrier& c) { PutU32(c.bytes, c.trailer + 4, static_cast<std::uint32_t>(c.trailer + 1)); },
       LocateResult::kDamaged},
  };
  for (const PeFormat format : kFormats) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << NameOf(format) << ": " << c.name);
      SignedCarrier carrier = MakeSignedCarrier(format, {'x', 'y', 'z'}, c.padding);
      c.change(carrier);
      EXPECT_EQ(Locate(carrier.bytes).result, c.result);
    }
  }
}

// The verifier asks where the table stands wherever that is: a package
// packed after signing follows it.
TEST(SignedCarrier, CertificateTableIsFoundWhereverItStands) {
  struct Case {
    const char* name;
    std::function<void(SignedCarrier&)> change;
    bool found;
  };
  const Case cases[] = {
      {"table at the end", [](SignedCarrier&) {}, true},
      {"package packed after signing", [](SignedCarrier& c) { Append(c.bytes, {'f', 'e', 'o', 'f', 0, 0, 0, 0}); },
       true},
      {"no certificate table",
       [](SignedCarrier& c) {
         PutU32(c.bytes, c.certificateEntry, 0);
         PutU32(c.bytes, c.certificateEntry + 4, 0);
       },
       false},
      {"table size reaches past the end",
       [](SignedCarrier& c) { PutU32(c.bytes, c.certificateEntry + 4, static_cast<std::uint32_t>(c.bytes.size())); },
       false},
      {"no PE signature", [](SignedCarrier& c) { c.bytes[kPeOffset + 2] = 'X'; }, false},
  };
  for (const PeFormat format : kFormats) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << NameOf(format) << ": " << c.name);
      SignedCarrier carrier = MakeSignedCarrier(format, {'x', 'y', 'z'}, 3);
      c.change(carrier);
      const std::optional<package::CertificateTable> table = TableOf(carrier.bytes);
      ASSERT_EQ(table.has_value(), c.found);
      if (c.found) {
        EXPECT_EQ(table->offset, carrier.tableStart);
        EXPECT_EQ(table->size, kTableSize);
      }
    }
  }
}

}  // namespace
