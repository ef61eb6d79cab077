// A failure while the staged files are moved into place undoes the whole
// update: files replaced so far get their old content and times back, new
// files and new folders go, and no side file is left. The moves are made to
// fail one after the other through the platform's test hook.
#include <gtest/gtest.h>

#include "applier_test_fixture.h"
#include "platform/platform.h"

namespace applier_test {
namespace {

class CommitFailureTest : public ApplierTest {
 protected:
  void SetUp() override {
    ApplierTest::SetUp();
    std::filesystem::create_directories(Installed("data"));
    WriteWholeFile(Installed("victim.txt"), MixedContent(3000, 1));
    WriteWholeFile(Installed("data/old.bin"), MixedContent(7000, 2));
    WriteWholeFile(Installed("keep.txt"), {'k'});
    // Old times that no write of the test can have given them, set as the
    // program sets them: a time set through the Windows build's C++ library
    // was read back under Wine a second off from one reading to the next.
    const platform::FileTime old = 130740807436702848;  // 2015-04-21 09:05:43.6702848 UTC
    for (const char* name : {"victim.txt", "data/old.bin"}) {
      ASSERT_TRUE(platform::WriteFileTimes(ToProgramPath(Installed(name)), {old, old, old}));
    }
    // Replacements, new folders, and one path named twice: the later record
    // wins.
    records_ = Concat({FileRecordOf(L".\\victim.txt", MixedContent(100, 3)),
                       FileRecordOf(L".\\d1\\d2\\new.txt", MixedContent(5000, 4)),
                       FileRecordOf(L".\\data\\old.bin", {'n', 'e', 'w'}),
                       FileRecordOf(L".\\victim.txt", MixedContent(2000, 5))});
  }
  void TearDown() override {
    platform::FailNthMoveForTesting(0);
    ApplierTest::TearDown();
  }

  static constexpr unsigned kMoves = 4;  // one per record
  Bytes records_;
};

TEST_F(CommitFailureTest, EveryFailingMoveLeavesTheInstallDirectoryAsItWas) {
  const TreeSnapshot before = SnapshotUnder(install_);
  WriteCarrier(Package(records_));
  for (unsigned failing = 1; failing <= kMoves; ++failing) {
    SCOPED_TRACE(testing::Message() << "move " << failing << " fails");
    platform::FailNthMoveForTesting(failing);
    const ApplyRun run = ApplyCarrier();
    EXPECT_EQ(run.results, (std::vector<int>{1, 1, 1, 1, -1}));
    EXPECT_FALSE(run.committed);
    EXPECT_EQ(SnapshotUnder(install_), before);
  }
}

TEST_F(CommitFailureTest, WithoutAFailureTheLaterRecordWinsAndNoSideFileStays) {
  WriteCarrier(Package(records_));
  const ApplyRun run = ApplyCarrier();
  EXPECT_TRUE(run.committed);
  EXPECT_EQ(TreeUnder(install_), (std::vector<std::string>{"d1/", "d1/d2/", "d1/d2/new.txt", "data/",
                                                           "data/old.bin", "keep.txt", "victim.txt"}));
  EXPECT_EQ(ReadWholeFile(Installed("victim.txt")), MixedContent(2000, 5));
  EXPECT_EQ(ReadWholeFile(Installed("data/old.bin")), (Bytes{'n', 'e', 'w'}));
}

}  // namespace
}  // namespace applier_test
