// A delta's instructions come from a package that anyone may have made: the
// reader refuses every length and offset that would reach outside the old
// file or past the new size before it is used, and the decoder then leaves
// its output no longer than the new size.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>

#include "applier/rebuild_from_delta.h"
#include "applier_test_fixture.h"
#include "delta_test_records.h"
#include "package/delta_instructions.h"
#include "package/layout.h"
#include "package/record_reader.h"
#include "platform/unique_file.h"

namespace applier_test {
namespace {

using delta_test::CrcOf;
using delta_test::Instructions;
using package::DeltaResult;

platform::UniqueFile StreamOf(const Bytes& bytes) {
  platform::UniqueFile stream(std::tmpfile());
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), stream.get());
  std::rewind(stream.get());
  return stream;
}

Bytes Contents(std::FILE* stream) {
  std::rewind(stream);
  Bytes bytes;
  int c;
  while ((c = std::fgetc(stream)) != EOF) bytes.push_back(static_cast<unsigned char>(c));
  return bytes;
}

// Checks what the reader hands on against the sizes it was given.
class BoundsCheckingTarget final : public package::DeltaTarget {
 public:
  BoundsCheckingTarget(std::uint64_t oldSize, std::uint64_t newSize) : oldSize_(oldSize), newSize_(newSize) {}
  bool Copy(std::uint64_t oldOffset, const unsigned char*, std::size_t count) override {
    EXPECT_LE(oldOffset + count, oldSize_);
    return Add(count);
  }
  bool Insert(const unsigned char*, std::size_t count) override { return Add(count); }

 private:
  bool Add(std::size_t count) {
    written_ += count;
    EXPECT_LE(written_, newSize_);
    return true;
  }
  std::uint64_t oldSize_;
  std::uint64_t newSize_;
  std::uint64_t written_ = 0;
};

struct HostileCase {
  const char* name;
  std::uint64_t newSize;
  Bytes instructions;
  DeltaResult expected;
};

constexpr std::uint64_t kOldSize = 100;
constexpr std::uint64_t kHuge = ~std::uint64_t{0};

TEST(DeltaInstructionsTest, RefusesEveryLengthAndOffsetOutOfBounds) {
  const Bytes whole = Instructions({{40, 10, 0}});
  const HostileCase cases[] = {
      {"copy length of -1", 50, Instructions({{kHuge, 0, 0}}), DeltaResult::kCopyPastNewSize},
      {"copy past the new size", 50, Instructions({{51, 0, 0}}), DeltaResult::kCopyPastNewSize},
      {"copy past the old end", 150, Instructions({{101, 0, 0}}), DeltaResult::kCopyPastOldEnd},
      {"copy past the old end after a seek", 50, Instructions({{0, 0, 90}, {11, 0, 0}}),
       DeltaResult::kCopyPastOldEnd},
      {"insert length of -1", 50, Instructions({{10, kHuge, 0}}), DeltaResult::kInsertPastNewSize},
      {"insert past the new size", 50, Instructions({{10, 41, 0}}), DeltaResult::kInsertPastNewSize},
      {"copy and insert lengths that wrap around together", 50, Instructions({{10, kHuge - 5, 0}}),
       DeltaResult::kInsertPastNewSize},
      {"seek before the start", 50, Instructions({{10, 0, -11}}), DeltaResult::kSeekOutside},
      {"seek by the most negative offset", 50, Instructions({{10, 0, INT64_MIN}}), DeltaResult::kSeekOutside},
      {"seek past the old end", 50, Instructions({{10, 0, 91}}), DeltaResult::kSeekOutside},
      {"seek by the largest offset", 50, Instructions({{10, 0, INT64_MAX}}), DeltaResult::kSeekOutside},
      {"instructions short of the new size", 51, whole, DeltaResult::kShortOfNewSize},
      {"a triple after the new size is reached", 50, Instructions({{40, 10, 0}, {0, 0, 0}}),
       DeltaResult::kTrailingData},
      {"a triple cut short", 60, Concat({whole, Bytes(20, 0)}), DeltaResult::kEndsInside},
      {"a copy's bytes cut short", 50, Bytes(whole.begin(), whole.end() - 20), DeltaResult::kEndsInside},
      {"no instructions for a non-empty file", 1, {}, DeltaResult::kShortOfNewSize},
      {"a new size past the largest a delta names", package::kMaxDeltaFileSize + 1, whole,
       DeltaResult::kTooLarge},
      {"seeks to the old end and back, then copies", 50, Instructions({{0, 0, 100}, {0, 0, -100}, {40, 10, 0}}),
       DeltaResult::kComplete},
  };
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.name);
    package::RecordHead head;
    head.oldFile = {kOldSize, 0};
    head.newFile = {c.newSize, 0};
    const platform::UniqueFile stream = StreamOf(CompressAtLevel6(c.instructions));
    BoundsCheckingTarget target(kOldSize, c.newSize);
    EXPECT_EQ(package::ReadDeltaInstructions(stream.get(), head, target), c.expected);
  }
}

TEST(DeltaInstructionsTest, AnOldSizePastTheLargestIsRefused) {
  package::RecordHead head;
  head.oldFile = {package::kMaxDeltaFileSize + 1, 0};
  head.newFile = {0, 0};
  const platform::UniqueFile stream = StreamOf(CompressAtLevel6({}));
  BoundsCheckingTarget target(0, 0);
  EXPECT_EQ(package::ReadDeltaInstructions(stream.get(), head, target), DeltaResult::kTooLarge);
}

class DeltaRebuildTest : public testing::Test {
 protected:
  // Old bytes 0, 1, 2, ... 99.
  void SetUp() override {
    for (unsigned i = 0; i < kOldSize; ++i) old_.push_back(static_cast<unsigned char>(i));
    oldFile_ = StreamOf(old_);
    output_.reset(std::tmpfile());
  }

  applier::RebuildResult Rebuild(const Bytes& stream, std::uint64_t newSize, std::uint32_t newCrc) {
    package::RecordHead head;
    head.oldFile = {kOldSize, CrcOf(old_)};
    head.newFile = {newSize, newCrc};
    const platform::UniqueFile package = StreamOf(Concat({stream, {'n', 'e', 'x', 't'}}));
    const applier::RebuildResult result = applier::RebuildFromDelta(package.get(), head, oldFile_.get(), output_.get());
    if (result == applier::RebuildResult::kRebuilt) {
      char tag[4];
      EXPECT_EQ(std::fread(tag, 1, 4, package.get()), 4u);
      EXPECT_EQ(std::string(tag, 4), "next");
    }
    return result;
  }

  Bytes old_;
  platform::UniqueFile oldFile_;
  platform::UniqueFile output_;
};

TEST_F(DeltaRebuildTest, CopiesWithDifferencesInsertsAndSeeks) {
  // Old 90..99 plus 1, "ii", then old 10..14 plus 1.
  const Bytes instructions = Instructions({{0, 0, 90}, {10, 2, -90}, {5, 0, 0}});
  Bytes expected;
  for (unsigned i = 90; i < 100; ++i) expected.push_back(static_cast<unsigned char>(i + 1));
  expected.insert(expected.end(), {'i', 'i'});
  for (unsigned i = 10; i < 15; ++i) expected.push_back(static_cast<unsigned char>(i + 1));
  ASSERT_EQ(Rebuild(CompressAtLevel6(instructions), expected.size(), CrcOf(expected)),
            applier::RebuildResult::kRebuilt);
  EXPECT_EQ(Contents(output_.get()), expected);
}

TEST_F(DeltaRebuildTest, TellsFaultsOfTheResultAndTheStreamApart) {
  const Bytes instructions = Instructions({{40, 10, 0}});
  const Bytes stream = CompressAtLevel6(instructions);
  Bytes built;
  for (unsigned i = 0; i < 40; ++i) built.push_back(static_cast<unsigned char>(i + 1));
  built.insert(built.end(), 10, 'i');
  Bytes damaged = stream;
  damaged[5] ^= 0x40;
  EXPECT_EQ(Rebuild(stream, 50, CrcOf(built) ^ 1), applier::RebuildResult::kResultDiffers);
  EXPECT_EQ(Rebuild(damaged, 50, CrcOf(built)), applier::RebuildResult::kBadInstructions);
  EXPECT_EQ(Rebuild(Bytes(stream.begin(), stream.begin() + 6), 50, CrcOf(built)),
            applier::RebuildResult::kBadInstructions);
  EXPECT_EQ(Rebuild(CompressAtLevel6(Instructions({{40, 11, 0}})), 50, CrcOf(built)),
            applier::RebuildResult::kBadInstructions);
}

TEST_F(DeltaRebuildTest, AnOldFileShorterThanItsRecordSaysFailsTheRead) {
  // The check of the old file comes first in apply mode; the decoder still
  // never takes more than the file holds.
  oldFile_ = StreamOf(Bytes(old_.begin(), old_.begin() + 30));
  EXPECT_EQ(Rebuild(CompressAtLevel6(Instructions({{40, 10, 0}})), 50, 0), applier::RebuildResult::kReadFailed);
}

struct CheckCase {
  const char* name;
  package::FileCheck expected;
  applier::BaseCheck result;
  std::uint64_t found;
};

TEST_F(DeltaRebuildTest, CheckFileNamesHowAFileDiffers) {
  const std::uint32_t crc = CrcOf(old_);
  const CheckCase cases[] = {
      {"the same file", {kOldSize, crc}, applier::BaseCheck::kMatches, 0},
      {"another size", {kOldSize + 1, crc}, applier::BaseCheck::kSizeDiffers, kOldSize},
      {"another content", {kOldSize, crc ^ 1}, applier::BaseCheck::kContentDiffers, crc},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::uint64_t found = 0;
    EXPECT_EQ(applier::CheckFile(oldFile_.get(), c.expected, found), c.result);
    EXPECT_EQ(found, c.found);
  }
}

}  // namespace
}  // namespace applier_test
