// Extracted files get the last access and last write times of their record
// to the 100 ns. (Linux keeps no settable creation time, so that one is
// not compared.)
#include <gtest/gtest.h>

#include "applier_test_fixture.h"

namespace applier_test {
namespace {

TEST_F(ApplierTest, RecordedTimesAreRestoredExactly) {
  const platform::FileTimes cases[] = {
      kRecordTimes,
      {116444736000000001, 116444736000000001, 116444736000000001},  // 1970-01-01 plus 100 ns
      {116444735999999999, 116444735999999999, 116444735999999999},  // 100 ns before 1970
      {157469184009999999, 126227808001234567, 157469184009999999},  // 2100 and 2001
  };
  Bytes records;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    records =
        Concat({records, FileRecord(L".\\t" + std::to_wstring(i), CompressAtLevel6(MixedContent(1500)), cases[i])});
  }
  WriteCarrier(Package(records));
  EXPECT_EQ(ApplyCarrier().results, (std::vector<int>{1, 1, 1, 1, -1}));

  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    platform::FileTimes times;
    ASSERT_TRUE(platform::ReadFileTimes(ToProgramPath(install_ / ("t" + std::to_string(i))), times));
    EXPECT_EQ(times.lastAccess, cases[i].lastAccess);
    EXPECT_EQ(times.lastWrite, cases[i].lastWrite);
  }
}

// A record may carry any 64-bit time, including ones no file system can
// hold; such a file is still applied whole, whatever becomes of its times.
TEST_F(ApplierTest, TimesOutOfAnyRangeStillApply) {
  const Bytes content = MixedContent(1500);
  const platform::FileTimes times = {0xFFFFFFFFFFFFFFFF, 0x8000000000000000, 0x7FFFFFFFFFFFFFFF};
  WriteCarrier(Package(FileRecord(L".\\far.dat", CompressAtLevel6(content), times)));
  EXPECT_EQ(ApplyCarrier().results, (std::vector<int>{1, -1}));
  EXPECT_EQ(ReadWholeFile(install_ / "far.dat"), content);
}

}  // namespace
}  // namespace applier_test
