// The undo reverses only what the update itself did: when another program
// has put a file of its own at a destination before the undo, that file is
// neither overwritten nor removed. And while one update of an install
// directory runs, no other update of it can start.
#include <gtest/gtest.h>

#include "app/globals.h"
#include "applier/update.h"
#include "applier_test_fixture.h"
#include "platform/unique_file.h"

namespace applier_test {
namespace {

// What another program puts at a destination while the commit runs: a new
// file moved over it, as a game's own updater or a copy would.
std::filesystem::path g_swapped;
const Bytes kForeign = {'f', 'o', 'r', 'e', 'i', 'g', 'n'};

void SwapInForeignFile() {
  const std::filesystem::path fresh = g_swapped.string() + ".other";
  WriteWholeFile(fresh, kForeign);
  std::filesystem::rename(fresh, g_swapped);
}

class UndoOwnershipTest : public ApplierTest {
 protected:
  void SetUp() override {
    ApplierTest::SetUp();
    std::filesystem::create_directories(Installed("data"));
    WriteWholeFile(Installed("victim.txt"), kOldVictim);
    WriteWholeFile(Installed("data/old.bin"), kOldData);
  }
  void TearDown() override {
    platform::FailNthMoveForTesting(0);
    ApplierTest::TearDown();
  }

  const Bytes kOldVictim = MixedContent(3000, 1);
  const Bytes kOldData = MixedContent(700, 2);
};

TEST_F(UndoOwnershipTest, AFileSwappedInBeforeTheUndoIsLeftAlone) {
  // The third move fails; the first two (a replaced file and a new one)
  // are undone, except the one that another program replaced meanwhile.
  WriteCarrier(Package(Concat({FileRecordOf(L".\\victim.txt", MixedContent(100, 3)),
                               FileRecordOf(L".\\d1\\new.txt", MixedContent(500, 4)),
                               FileRecordOf(L".\\data\\old.bin", {'n', 'e', 'w'})})));
  struct Case {
    const char* name;
    const char* swapped;
    std::vector<std::string> tree;  // what the undo must leave
  };
  const Case cases[] = {
      {"a replaced file", "victim.txt",
       // The old file stays under its second name rather than be lost.
       {"data/", "data/old.bin", "victim.txt", "victim.txt.quorvane-backup"}},
      {"a created file", "d1/new.txt", {"d1/", "d1/new.txt", "data/", "data/old.bin", "victim.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_swapped = Installed(c.swapped);
    platform::FailNthMoveForTesting(3, SwapInForeignFile);
    EXPECT_FALSE(ApplyCarrier().committed);
    EXPECT_EQ(TreeUnder(install_), c.tree);
    EXPECT_EQ(ReadWholeFile(Installed(c.swapped)), kForeign);
    EXPECT_EQ(ReadWholeFile(Installed("data/old.bin")), kOldData);
    if (std::string(c.swapped) == "victim.txt") {
      EXPECT_EQ(ReadWholeFile(Installed("victim.txt.quorvane-backup")), kOldVictim);
    } else {
      EXPECT_EQ(ReadWholeFile(Installed("victim.txt")), kOldVictim);
    }
    // The next case starts from the same game.
    std::filesystem::remove_all(Installed("d1"));
    std::filesystem::remove(Installed("victim.txt.quorvane-backup"));
    WriteWholeFile(Installed("victim.txt"), kOldVictim);
  }
}

// A stream of `content` in a file of its own, at the stream's start.
platform::UniqueFile StreamOf(const std::filesystem::path& path, const Bytes& content) {
  WriteWholeFile(path, CompressAtLevel6(content));
  return platform::UniqueFile(platform::OpenFile(ToProgramPath(path), "rb"));
}

TEST_F(UndoOwnershipTest, ASecondUpdateOfTheFolderIsRefusedUntilTheFirstHasEnded) {
  const Bytes first = MixedContent(300, 5);
  const Bytes second = MixedContent(400, 6);
  for (const bool firstCommits : {true, false}) {
    SCOPED_TRACE(firstCommits ? "the first commits" : "the first is undone");
    WriteWholeFile(Installed("victim.txt"), kOldVictim);
    {
      applier::Update running(g_installDir);
      platform::UniqueFile stream = StreamOf(base_ / "first.z", first);
      ASSERT_TRUE(running.Stage(stream.get(), L".\\victim.txt", kRecordTimes));
      const std::vector<std::string> whileRunning = TreeUnder(install_);

      applier::Update other(g_installDir);
      platform::UniqueFile otherStream = StreamOf(base_ / "second.z", second);
      EXPECT_FALSE(other.Stage(otherStream.get(), L".\\data\\old.bin", kRecordTimes));
      EXPECT_FALSE(other.Commit());
      EXPECT_EQ(TreeUnder(install_), whileRunning);

      if (firstCommits) {
        EXPECT_TRUE(running.Commit());
      } else {
        running.Undo();
      }
    }
    EXPECT_EQ(ReadWholeFile(Installed("victim.txt")), firstCommits ? first : kOldVictim);
    // Once it has ended, the folder is free again, and no lock is left in it.
    applier::Update next(g_installDir);
    platform::UniqueFile stream = StreamOf(base_ / "second.z", second);
    EXPECT_TRUE(next.Stage(stream.get(), L".\\data\\old.bin", kRecordTimes));
    EXPECT_TRUE(next.Commit());
    EXPECT_EQ(TreeUnder(install_), (std::vector<std::string>{"data/", "data/old.bin", "victim.txt"}));
    WriteWholeFile(Installed("data/old.bin"), kOldData);
  }
}

}  // namespace
}  // namespace applier_test
