// Pack mode on a full disk: the target is left exactly as it was and the
// write error is shown.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/drivers.h"
#include "packer_test_fixture.h"

namespace {

// A 256 KiB tmpfs, mounted for one test; needs a POSIX system and root.
class SmallDisk {
 public:
  explicit SmallDisk(const std::filesystem::path& where) : where_(where) {
    std::filesystem::create_directory(where_);
    mounted_ = Run("mount -t tmpfs -o size=256k tmpfs '" + where_.string() + "'");
  }
  ~SmallDisk() {
    if (mounted_) Run("umount '" + where_.string() + "'");
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool mounted() const { return mounted_; }

 private:
  static bool Run(const std::string& command) { return std::system((command + " 2>/dev/null").c_str()) == 0; }
  std::filesystem::path where_;
  bool mounted_ = false;
};

using FullDiskTest = PackerTest;

TEST_F(FullDiskTest, TargetIsCutBackAndTheWriteErrorShown) {
  const SmallDisk disk(base_ / "disk");
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here";
  const std::filesystem::path target = base_ / "disk" / "target.exe";
  const Bytes before = MixedContent(16 * 1024);
  {
    platform::UniqueFile file(platform::OpenFile(ToProgramPath(target), "wb"));
    ASSERT_TRUE(file);
    ASSERT_EQ(std::fwrite(before.data(), 1, before.size(), file.get()), before.size());
  }
  // Random bytes barely compress: the package needs more than the disk has.
  Bytes noise(600 * 1024);
  std::uint32_t state = 7;
  for (unsigned char& byte : noise) byte = static_cast<unsigned char>((state = state * 1664525u + 1013904223u) >> 24);
  MakeFile(L"a", {'a'});
  MakeFile(L"noise.bin", noise);
  MakeFile(L"z", {'z'});

  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(base_);
  testing::internal::CaptureStderr();
  RunPackMode(ToProgramPath(target));
  const std::string output = testing::internal::GetCapturedStderr();
  std::filesystem::current_path(previous);

  EXPECT_EQ(ReadWholeFile(target), before);
  EXPECT_NE(output.find(u8"ERROR: 出力ファイルに書き込めません。"), std::string::npos)
      << output;
}

}  // namespace
