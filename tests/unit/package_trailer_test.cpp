// The trailer that closes a package, and finding a package from it.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "package/fields.h"
#include "package/layout.h"
#include "package/trailer.h"
#include "platform/platform.h"

namespace {

// A carrier in a temporary stream: `prefix` bytes, then what the test writes.
std::FILE* CarrierWith(const std::vector<unsigned char>& bytes) {
  std::FILE* stream = std::tmpfile();
  // An empty vector's data() may be null, which fwrite must not get.
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), stream);
  std::rewind(stream);
  return stream;
}

std::vector<unsigned char> ContentOf(std::FILE* stream) {
  std::fseek(stream, 0, SEEK_END);
  std::vector<unsigned char> bytes(static_cast<std::size_t>(std::ftell(stream)));
  std::rewind(stream);
  EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), stream), bytes.size());
  return bytes;
}

TEST(PackageTrailer, EmptyPackageIsEightBytes) {
  std::FILE* stream = CarrierWith({'M', 'Z'});
  std::fseek(stream, 0, SEEK_END);
  ASSERT_TRUE(package::WritePackageTrailer(stream, 0));
  EXPECT_EQ(ContentOf(stream),
            (std::vector<unsigned char>{'M', 'Z', 0x66, 0x65, 0x6F, 0x66, 0, 0, 0, 0}));
  std::fclose(stream);
}

TEST(PackageTrailer, LengthIsLittleEndian) {
  std::FILE* stream = CarrierWith({});
  ASSERT_TRUE(package::WritePackageTrailer(stream, 33728345));
  EXPECT_EQ(ContentOf(stream), (std::vector<unsigned char>{0x66, 0x65, 0x6F, 0x66, 0x59, 0xA7, 0x02, 0x02}));
  std::fclose(stream);
}

struct LocateCase {
  const char* name;
  std::vector<unsigned char> carrier;
  package::LocateResult result;
  long firstRecord;  // where the stream stands when found
};

TEST(LocatePackage, FindsTheFirstRecordFromTheEnd) {
  const LocateCase cases[] = {
      {"empty package", {'M', 'Z', 'f', 'e', 'o', 'f', 0, 0, 0, 0}, package::LocateResult::kFound, 2},
      {"one byte record", {'M', 'Z', 'x', 'f', 'e', 'o', 'f', 1, 0, 0, 0}, package::LocateResult::kFound, 2},
      {"whole file is package", {'x', 'f', 'e', 'o', 'f', 1, 0, 0, 0}, package::LocateResult::kFound, 0},
      {"no trailer", {'M', 'Z', 1, 2, 3, 4, 5, 6, 7, 8}, package::LocateResult::kNoPackage, 0},
      {"tag in other case", {'M', 'Z', 'F', 'E', 'O', 'F', 0, 0, 0, 0}, package::LocateResult::kNoPackage, 0},
      {"shorter than a trailer", {'e', 'o', 'f', 0, 0}, package::LocateResult::kNoPackage, 0},
      {"empty carrier", {}, package::LocateResult::kNoPackage, 0},
      {"length before the carrier", {'M', 'Z', 'f', 'e', 'o', 'f', 3, 0, 0, 0}, package::LocateResult::kDamaged, 0},
      {"huge length", {'f', 'e', 'o', 'f', 0xFF, 0xFF, 0xFF, 0xFF}, package::LocateResult::kDamaged, 0},
  };
  for (const LocateCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::FILE* stream = CarrierWith(c.carrier);
    package::PackageBounds bounds;
    EXPECT_EQ(package::LocatePackage(stream, bounds), c.result);
    if (c.result == package::LocateResult::kFound) {
      EXPECT_EQ(std::ftell(stream), c.firstRecord);
      EXPECT_EQ(bounds.start, c.firstRecord);
      EXPECT_EQ(bounds.end, static_cast<long>(c.carrier.size()));
    }
    std::fclose(stream);
  }
}

TEST(LocatePackage, SecondPackageHidesTheFirst) {
  std::FILE* stream = CarrierWith({'M', 'Z'});
  std::fseek(stream, 0, SEEK_END);
  ASSERT_TRUE(package::WritePackageTrailer(stream, 0));
  ASSERT_TRUE(package::WritePackageTrailer(stream, 0));
  ASSERT_EQ(package::LocatePackage(stream), package::LocateResult::kFound);
  EXPECT_EQ(std::ftell(stream), 10);
  package::RecordTag tag;
  ASSERT_TRUE(package::ReadTag(stream, tag));
  EXPECT_TRUE(package::TagEquals(tag, package::kEndTag));
  std::fclose(stream);
}

// Windows measures stream positions in a long of 32 bits: from 2 GiB on it
// cannot tell where a package starts, so such a carrier must be refused as
// too large, not taken for one without a package. The files are sparse.
TEST(LocatePackage, CarrierOfTwoGibOrMoreIsTooLarge) {
  const struct {
    const char* name;
    std::uint64_t size;  // with the empty package that ends it
    package::LocateResult result;
  } cases[] = {
      {"one byte below the limit", package::kMaxCarrierSize - 1, package::LocateResult::kFound},
      {"at the limit", package::kMaxCarrierSize, package::LocateResult::kTooLarge},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    ASSERT_TRUE(platform::TruncateFile(stream, static_cast<std::uint32_t>(c.size - package::kTrailerSize)));
    ASSERT_EQ(std::fseek(stream, 0, SEEK_END), 0);
    ASSERT_TRUE(package::WritePackageTrailer(stream, 0));
    ASSERT_EQ(std::fflush(stream), 0);
    EXPECT_EQ(package::LocatePackage(stream), c.result);
    std::fclose(stream);
  }
}

}  // namespace
