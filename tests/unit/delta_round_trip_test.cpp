// What the publisher's encoder makes, the player's decoder turns back into
// the new file exactly, over the shapes that releases of a game's files
// take; and a changed file travels as a delta only where that is smaller.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>

#include "applier/rebuild_from_delta.h"
#include "applier_test_fixture.h"
#include "delta_test_records.h"
#include "package/record_reader.h"
#include "platform/unique_file.h"
#include "publisher/delta_record.h"

namespace applier_test {
namespace {

using delta_test::Contents;
using delta_test::StreamOf;

using publisher::ChangedFileEncoding;

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t to) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

// A table of 32-byte entries whose offsets all move by `shift`, as a game's
// index does when a file before them grows.
Bytes OffsetTable(std::size_t entries, std::uint32_t shift) {
  Bytes table;
  for (std::uint32_t i = 0; i < entries; ++i) {
    const std::uint32_t offset = i * 4096 + shift;
    for (int b = 0; b < 4; ++b) table.push_back(static_cast<unsigned char>(offset >> (8 * b)));
    for (int b = 0; b < 28; ++b) table.push_back(static_cast<unsigned char>('a' + (i * 7 + b) % 26));
  }
  return table;
}

struct RoundTripCase {
  const char* name;
  Bytes oldContent;
  Bytes newContent;
  ChangedFileEncoding chosen;  // by EncodeChangedFileRecord
};

std::vector<RoundTripCase> RoundTripCases() {
  const Bytes base = MixedContent(300000, 7);
  const Bytes block = Noise(5000, 9);
  Bytes scattered = base;
  for (std::size_t at = 100; at < scattered.size(); at += 997) scattered[at] ^= 0x21;
  return {
      {"identical files", base, base, ChangedFileEncoding::kDelta},
      {"an empty old file", {}, MixedContent(3000, 2), ChangedFileEncoding::kWholeFile},
      {"an empty new file", base, {}, ChangedFileEncoding::kWholeFile},
      {"a block inserted", base, Concat({Slice(base, 0, 120000), block, Slice(base, 120000, base.size())}),
       ChangedFileEncoding::kDelta},
      {"a block removed", base, Concat({Slice(base, 0, 50000), Slice(base, 90000, base.size())}),
       ChangedFileEncoding::kDelta},
      {"blocks moved around", base,
       Concat({Slice(base, 200000, 300000), Slice(base, 0, 100000), Slice(base, 100000, 200000)}),
       ChangedFileEncoding::kDelta},
      {"bytes changed all over", base, scattered, ChangedFileEncoding::kDelta},
      {"offsets shifted in a table", OffsetTable(4000, 0), OffsetTable(4000, 512), ChangedFileEncoding::kDelta},
      {"unrelated noise, where the delta is not smaller", Noise(20000, 1), Noise(20000, 2),
       ChangedFileEncoding::kWholeFile},
  };
}

class DeltaRoundTripTest : public ApplierTest {
 protected:
  // The new file rebuilt from `record`, a delta record, and `oldContent`.
  Bytes Rebuilt(const Bytes& record, const Bytes& oldContent) {
    const platform::UniqueFile package = StreamOf(record);
    package::RecordHead head;
    EXPECT_EQ(package::ReadRecordHead(package.get(), head), package::RecordKind::kDelta);
    const platform::UniqueFile oldFile = StreamOf(oldContent);
    std::uint64_t found = 0;
    EXPECT_EQ(applier::CheckFile(oldFile.get(), head.oldFile, found), applier::BaseCheck::kMatches);
    const platform::UniqueFile output(std::tmpfile());
    EXPECT_EQ(applier::RebuildFromDelta(package.get(), head, oldFile.get(), output.get()),
              applier::RebuildResult::kRebuilt);
    EXPECT_EQ(std::fgetc(package.get()), EOF) << "the record's stream was not read to its end";
    return Contents(output.get());
  }

  // The content of `record`, a "file" record.
  Bytes Inflated(const Bytes& record) {
    const platform::UniqueFile package = StreamOf(record);
    package::RecordHead head;
    EXPECT_EQ(package::ReadRecordHead(package.get(), head), package::RecordKind::kFile);
    struct Collect final : package::InflateSink {
      bool Write(const unsigned char* bytes, std::size_t count) override {
        content.insert(content.end(), bytes, bytes + count);
        return true;
      }
      Bytes content;
    } sink;
    EXPECT_EQ(package::InflateRecordStream(package.get(), sink), package::InflateResult::kComplete);
    return sink.content;
  }
};

TEST_F(DeltaRoundTripTest, EveryDeltaRebuildsTheNewFileExactly) {
  for (const RoundTripCase& c : RoundTripCases()) {
    SCOPED_TRACE(c.name);
    Bytes record;
    ASSERT_TRUE(publisher::AppendDeltaRecord(L".\\data\\a.dat", kRecordTimes, c.oldContent, c.newContent, record));
    EXPECT_EQ(Rebuilt(record, c.oldContent), c.newContent);
  }
}

TEST_F(DeltaRoundTripTest, AChangedFileTravelsAsTheSmallerOfDeltaAndWholeFile) {
  const std::filesystem::path oldPath = base_ / "old.dat";
  const std::filesystem::path newPath = base_ / "new.dat";
  for (const RoundTripCase& c : RoundTripCases()) {
    SCOPED_TRACE(c.name);
    WriteWholeFile(oldPath, c.oldContent);
    WriteWholeFile(newPath, c.newContent);
    Bytes record;
    ChangedFileEncoding chosen;
    ASSERT_TRUE(publisher::EncodeChangedFileRecord(ToProgramPath(oldPath), ToProgramPath(newPath),
                                                   L".\\data\\a.dat", record, &chosen));
    EXPECT_EQ(chosen, c.chosen);
    EXPECT_EQ(chosen == ChangedFileEncoding::kDelta ? Rebuilt(record, c.oldContent) : Inflated(record),
              c.newContent);
    if (chosen == ChangedFileEncoding::kDelta) {
      EXPECT_LT(record.size(), FileRecordOf(L".\\data\\a.dat", c.newContent).size());
    }
  }
}

}  // namespace
}  // namespace applier_test
