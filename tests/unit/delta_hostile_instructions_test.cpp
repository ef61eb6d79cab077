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

using delta_test::Contents;
using delta_test::StreamOf;

using delta_test::CrcOf;
using delta_test::Instructions;
using delta_test::InstructionsOf;
using package::DeltaResult;

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
  Instructions instructions;
  DeltaResult expected;
};

constexpr std::uint64_t kOldSize = 100;
constexpr std::uint64_t kHuge = ~std::uint64_t{0};

// A delta record's head read back, the package stream left on its streams.
platform::UniqueFile DeltaRecordStream(const Bytes& record, package::RecordHead& head) {
  platform::UniqueFile stream = StreamOf(Concat({record, {'n', 'e', 'x', 't'}}));
  EXPECT_EQ(package::ReadRecordHead(stream.get(), head), package::RecordKind::kDelta);
  return stream;
}

Instructions With(Instructions instructions, Bytes Instructions::*stream, const Bytes& bytes) {
  instructions.*stream = bytes;
  return instructions;
}

Instructions WithRuns(Instructions instructions, const Bytes& runs) {
  instructions.runs = runs;
  return instructions;
}

TEST(DeltaInstructionsTest, RefusesEveryLengthAndOffsetOutOfBounds) {
  const Instructions whole = InstructionsOf({{40, 10, 0}});
  const Bytes& control = whole.control;
  const HostileCase cases[] = {
      {"copy length of -1", 50, InstructionsOf({{kHuge, 0, 0}}), DeltaResult::kCopyPastNewSize},
      {"copy past the new size", 50, InstructionsOf({{51, 0, 0}}), DeltaResult::kCopyPastNewSize},
      {"copy past the old end", 150, InstructionsOf({{101, 0, 0}}), DeltaResult::kCopyPastOldEnd},
      {"copy past the old end after a seek", 50, InstructionsOf({{0, 0, 90}, {11, 0, 0}}),
       DeltaResult::kCopyPastOldEnd},
      {"insert length of -1", 50, InstructionsOf({{10, kHuge, 0}}), DeltaResult::kInsertPastNewSize},
      {"insert past the new size", 50, InstructionsOf({{10, 41, 0}}), DeltaResult::kInsertPastNewSize},
      {"copy and insert lengths that wrap around together", 50, InstructionsOf({{10, kHuge - 5, 0}}),
       DeltaResult::kInsertPastNewSize},
      {"seek before the start", 50, InstructionsOf({{10, 0, -11}}), DeltaResult::kSeekOutside},
      {"seek by the most negative offset", 50, InstructionsOf({{10, 0, INT64_MIN}}), DeltaResult::kSeekOutside},
      {"seek past the old end", 50, InstructionsOf({{10, 0, 91}}), DeltaResult::kSeekOutside},
      {"seek by the largest offset", 50, InstructionsOf({{10, 0, INT64_MAX}}), DeltaResult::kSeekOutside},
      {"triples short of the new size", 51, whole, DeltaResult::kShortOfNewSize},
      {"a triple after the new size is reached", 50, InstructionsOf({{40, 10, 0}, {0, 0, 0}}),
       DeltaResult::kTrailingData},
      {"differences left over", 50, With(whole, &Instructions::differences, Bytes(41, 1)),
       DeltaResult::kTrailingData},
      {"inserted bytes left over", 50, With(whole, &Instructions::insertions, Bytes(11, 'i')),
       DeltaResult::kTrailingData},
      {"a triple cut short", 60, With(whole, &Instructions::control, Concat({control, Bytes(20, 0)})),
       DeltaResult::kEndsInside},
      {"differences cut short", 50, With(whole, &Instructions::differences, Bytes(39, 1)),
       DeltaResult::kEndsInside},
      {"inserted bytes cut short", 50, With(whole, &Instructions::insertions, Bytes(9, 'i')),
       DeltaResult::kEndsInside},
      {"zeros counted past the copies", 50, WithRuns(whole, {45, 0}), DeltaResult::kTrailingData},
      {"literal differences counted past the copies", 50, WithRuns(whole, Concat({{0, 41}, Bytes(41, 1)})),
       DeltaResult::kTrailingData},
      {"a count of eleven bytes", 50, WithRuns(whole, Concat({Bytes(10, 0x80), {0}})), DeltaResult::kDamaged},
      {"a count past 64 bits", 50, WithRuns(whole, Concat({Bytes(9, 0xFF), {0x02}})), DeltaResult::kDamaged},
      {"runs cut inside a count", 50, WithRuns(whole, {0x80}), DeltaResult::kEndsInside},
      {"zeros, then bytes, covering the copies", 50, WithRuns(whole, Concat({{30, 10}, Bytes(10, 1)})),
       DeltaResult::kComplete},
      {"no triples for a non-empty file", 1, {}, DeltaResult::kShortOfNewSize},
      {"a new size past the largest a delta names", package::kMaxDeltaFileSize + 1, whole,
       DeltaResult::kTooLarge},
      {"seeks to the old end and back, then copies", 50,
       InstructionsOf({{0, 0, 100}, {0, 0, -100}, {40, 10, 0}}), DeltaResult::kComplete},
  };
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.name);
    package::RecordHead head;
    const platform::UniqueFile stream =
        DeltaRecordStream(delta_test::DeltaRecord(L".\\a", {kOldSize, 0}, {c.newSize, 0}, c.instructions), head);
    BoundsCheckingTarget target(kOldSize, c.newSize);
    EXPECT_EQ(package::ReadDeltaInstructions(stream.get(), head, target), c.expected);
  }
}

TEST(DeltaInstructionsTest, AnOldSizePastTheLargestIsRefused) {
  package::RecordHead head;
  const platform::UniqueFile stream =
      DeltaRecordStream(delta_test::DeltaRecord(L".\\a", {package::kMaxDeltaFileSize + 1, 0}, {0, 0}, {}), head);
  BoundsCheckingTarget target(0, 0);
  EXPECT_EQ(package::ReadDeltaInstructions(stream.get(), head, target), DeltaResult::kTooLarge);
}

struct StreamFaultCase {
  const char* name;
  std::size_t stream;   // whose length or bytes are wrong
  int lengthChange;     // added to its stored length
  bool damage;          // one of its bytes flipped
  DeltaResult expected;
};

// The lengths in the head are read as they stand: a stream must end where
// its length says, and its bytes must be zlib's.
TEST(DeltaInstructionsTest, EachStreamEndsAtItsLength) {
  const StreamFaultCase cases[] = {
      {"a control stream one byte longer than its length", package::kControlStream, -1, false,
       DeltaResult::kDamaged},
      {"a difference stream one byte shorter than its length", package::kDifferenceStream, 1, false,
       DeltaResult::kDamaged},
      {"damaged inserted bytes", package::kInsertionStream, 0, true, DeltaResult::kDamaged},
      {"an insertion stream that runs past the package", package::kInsertionStream, 100, false,
       DeltaResult::kCutShort},
      {"a difference stream that ends past its length", package::kDifferenceStream, -2, false,
       DeltaResult::kDamaged},
  };
  for (const StreamFaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes record = delta_test::DeltaRecord(L".\\a", {kOldSize, 0}, {50, 0}, InstructionsOf({{40, 10, 0}}));
    const std::size_t lengths = package::DeltaRecordHeadSize(3) - 4 * package::kDeltaStreamCount;
    record[lengths + 4 * c.stream] = static_cast<unsigned char>(record[lengths + 4 * c.stream] + c.lengthChange);
    if (c.damage) record.back() ^= 1;  // the insertion stream's Adler-32
    package::RecordHead head;
    const platform::UniqueFile stream = DeltaRecordStream(record, head);
    BoundsCheckingTarget target(kOldSize, 50);
    EXPECT_EQ(package::ReadDeltaInstructions(stream.get(), head, target), c.expected);
  }
}

class DeltaRebuildTest : public testing::Test {
 protected:
  // Old bytes 0, 1, 2, ... 99.
  void SetUp() override {
    for (unsigned i = 0; i < kOldSize; ++i) old_.push_back(static_cast<unsigned char>(i));
    oldFile_ = StreamOf(old_);
    output_.reset(std::tmpfile());
  }

  // Rebuilds from a record of `instructions`; on success the package stream
  // must stand on what follows the record.
  applier::RebuildResult Rebuild(const Bytes& record) {
    package::RecordHead head;
    const platform::UniqueFile package = DeltaRecordStream(record, head);
    const applier::RebuildResult result = applier::RebuildFromDelta(package.get(), head, oldFile_.get(), output_.get());
    if (result == applier::RebuildResult::kRebuilt) {
      char tag[4];
      EXPECT_EQ(std::fread(tag, 1, 4, package.get()), 4u);
      EXPECT_EQ(std::string(tag, 4), "next");
    }
    return result;
  }

  Bytes RecordOf(const Instructions& instructions, std::uint64_t newSize, std::uint32_t newCrc) const {
    return delta_test::DeltaRecord(L".\\a", {kOldSize, CrcOf(old_)}, {newSize, newCrc}, instructions);
  }

  Bytes old_;
  platform::UniqueFile oldFile_;
  platform::UniqueFile output_;
};

TEST_F(DeltaRebuildTest, CopiesWithDifferencesInsertsAndSeeks) {
  // Old 90..99 plus 1, "ii", then old 10..14 plus 1.
  Bytes expected;
  for (unsigned i = 90; i < 100; ++i) expected.push_back(static_cast<unsigned char>(i + 1));
  expected.insert(expected.end(), {'i', 'i'});
  for (unsigned i = 10; i < 15; ++i) expected.push_back(static_cast<unsigned char>(i + 1));
  ASSERT_EQ(Rebuild(RecordOf(InstructionsOf({{0, 0, 90}, {10, 2, -90}, {5, 0, 0}}), expected.size(),
                             CrcOf(expected))),
            applier::RebuildResult::kRebuilt);
  EXPECT_EQ(Contents(output_.get()), expected);
}

TEST_F(DeltaRebuildTest, CountedZerosCopyTheOldBytesAsTheyAre) {
  // Old 0..39: the first 30 unchanged, the last 10 plus 1; then "ii".
  Instructions instructions = InstructionsOf({{40, 2, 0}});
  instructions.runs = Concat({{30, 10}, Bytes(10, 1)});
  Bytes expected;
  for (unsigned i = 0; i < 40; ++i) expected.push_back(static_cast<unsigned char>(i < 30 ? i : i + 1));
  expected.insert(expected.end(), {'i', 'i'});
  ASSERT_EQ(Rebuild(RecordOf(instructions, expected.size(), CrcOf(expected))), applier::RebuildResult::kRebuilt);
  EXPECT_EQ(Contents(output_.get()), expected);
}

TEST_F(DeltaRebuildTest, TellsFaultsOfTheResultAndTheStreamApart) {
  const Instructions instructions = InstructionsOf({{40, 10, 0}});
  Bytes built;
  for (unsigned i = 0; i < 40; ++i) built.push_back(static_cast<unsigned char>(i + 1));
  built.insert(built.end(), 10, 'i');
  const Bytes record = RecordOf(instructions, 50, CrcOf(built));
  Bytes damaged = record;
  damaged.back() ^= 1;  // the insertion stream's Adler-32
  EXPECT_EQ(Rebuild(RecordOf(instructions, 50, CrcOf(built) ^ 1)), applier::RebuildResult::kResultDiffers);
  EXPECT_EQ(Rebuild(damaged), applier::RebuildResult::kBadInstructions);
  EXPECT_EQ(Rebuild(RecordOf(InstructionsOf({{40, 11, 0}}), 50, CrcOf(built))),
            applier::RebuildResult::kBadInstructions);
}

TEST_F(DeltaRebuildTest, AnOldFileShorterThanItsRecordSaysFailsTheRead) {
  // The check of the old file comes first in apply mode; the decoder still
  // never takes more than the file holds.
  oldFile_ = StreamOf(Bytes(old_.begin(), old_.begin() + 30));
  EXPECT_EQ(Rebuild(RecordOf(InstructionsOf({{40, 10, 0}}), 50, 0)), applier::RebuildResult::kReadFailed);
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
