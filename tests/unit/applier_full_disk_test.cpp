// A disk that fills up while the files are staged fails the update before
// anything is replaced: every file keeps its previous content, and no new or
// partial file is left.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/globals.h"
#include "applier_test_fixture.h"

namespace applier_test {
namespace {

// The install directory is a 256 KiB tmpfs; needs a POSIX system and root.
class ApplierFullDiskTest : public ApplierTest {
 protected:
  void SetUp() override {
    ApplierTest::SetUp();
    disk_ = base_ / "disk";
    std::filesystem::create_directory(disk_);
    mounted_ =
        std::system(("mount -t tmpfs -o size=256k tmpfs '" + disk_.string() + "' 2>/dev/null").c_str()) == 0;
    if (!mounted_) GTEST_SKIP() << "cannot mount a small tmpfs here";
    g_installDir = ToProgramPath(disk_);
  }
  void TearDown() override {
    if (mounted_) std::system(("umount '" + disk_.string() + "'").c_str());
    ApplierTest::TearDown();
  }

  std::filesystem::path disk_;
  bool mounted_ = false;
};

TEST_F(ApplierFullDiskTest, OverflowingRecordFailsAndKeepsTheOldFile) {
  const Bytes oldContent = MixedContent(16 * 1024);
  WriteWholeFile(disk_ / "victim.bin", oldContent);
  // Noise barely compresses: inflated it needs more than the disk has.
  WriteCarrier(Package(
      Concat({FileRecordOf(L".\\small.txt", {'s'}), FileRecordOf(L".\\victim.bin", Noise(600 * 1024))})));

  EXPECT_EQ(ApplyCarrier().results, (std::vector<int>{1, 0}));
  EXPECT_EQ(ReadWholeFile(disk_ / "victim.bin"), oldContent);
  EXPECT_EQ(TreeUnder(disk_), (std::vector<std::string>{"victim.bin"}));
}

}  // namespace
}  // namespace applier_test
