// The native program packs several files at once: whatever the number of
// workers, the package holds the same bytes, the trace names the same paths
// in the same order, the same files are left out, and a package that cannot
// be written whole still stops the walk.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "app/globals.h"
#include "packer/append_tree.h"
#include "packer/pack_workers.h"
#include "packer_test_fixture.h"
#include "publisher/ordered_workers.h"

namespace {

struct Pack {
  Bytes package;
  std::vector<std::string> pathLines;  // the trace without its "left out" lines, in order
  std::vector<std::string> leftOutLines;  // sorted
  std::size_t leftOut = 0;
  bool whole = false;
};

class PackWorkersTest : public PackerTest {
 protected:
  void TearDown() override {
    packer::SetPackWorkers(1);
    PackerTest::TearDown();
  }

  // Packs root_ afresh with `workers` workers. Every file's times are set
  // first: reading a file may change its last-access time.
  void PackWith(unsigned workers, Pack& pack) {
    platform::FileTimes times;
    times.lastAccess = 132000000000000000;
    times.lastWrite = 131000000000000000;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(base_ / "src")) {
      if (entry.is_regular_file()) {
        ASSERT_TRUE(platform::WriteFileTimes(ToProgramPath(entry.path()), times));
      }
    }
    packer::SetPackWorkers(workers);
    package_.reset(platform::OpenFile(ToProgramPath(base_ / "package.bin"), "w+b"));
    g_packageOut = package_.get();
    const std::optional<std::string> trace =
        CaptureDebugOutput([&] { pack.whole = AppendTree(root_, &pack.leftOut); });
    pack.package = PackageBytes();
    std::istringstream lines(trace.value_or(""));
    for (std::string line; std::getline(lines, line);) {
      (line.rfind("left out", 0) == 0 ? pack.leftOutLines : pack.pathLines).push_back(line);
    }
    std::sort(pack.leftOutLines.begin(), pack.leftOutLines.end());
  }
};

TEST_F(PackWorkersTest, OneTwoAndEightWorkersWriteTheSameBytes) {
  // Outputs bigger than a worker's memory share, which wait in a spill file
  // when another big one is ahead of them, among many small files.
  Bytes noise(3 * publisher::kHeldOutputPerJob);
  std::uint32_t state = 99;
  for (unsigned char& byte : noise) byte = static_cast<unsigned char>((state = state * 1664525u + 1013904223u) >> 24);
  MakeFile(L"big1", noise);
  std::reverse(noise.begin(), noise.end());
  MakeFile(L"big2", noise);
  MakeFile(L"text", MixedContent(2 * 1024 * 1024));
  MakeFile(L"empty");
  MakeFile(L"chunk", MixedContent(1024));
  for (int folder = 0; folder < 3; ++folder) {
    const std::wstring name = L"d" + std::to_wstring(folder);
    MakeDirectory(name);
    for (int i = 0; i < 40; ++i) MakeFile(name + L"\\f" + std::to_wstring(i), MixedContent(100 + 97 * i));
  }
  // A file that cannot be read, left out by every count.
  std::error_code failed;
  std::filesystem::create_symlink(base_ / "missing", base_ / "src" / "d1" / "dangling", failed);
  ASSERT_FALSE(failed) << failed.message();

  Pack one;
  PackWith(1, one);
  EXPECT_TRUE(one.whole);
  EXPECT_EQ(ParseRecords(one.package).size(), 5u + 3 * 40);
  EXPECT_EQ(one.leftOut, 1u);
  ASSERT_EQ(one.leftOutLines.size(), 1u);
  EXPECT_EQ(one.leftOutLines[0], "left out, cannot be read: " + AsTraced(SourcePath(L"d1\\dangling")));
  for (const unsigned workers : {2u, 8u}) {
    SCOPED_TRACE(testing::Message() << workers << " workers");
    Pack many;
    PackWith(workers, many);
    EXPECT_TRUE(many.whole);
    EXPECT_TRUE(many.package == one.package);
    EXPECT_EQ(many.pathLines, one.pathLines);
    EXPECT_EQ(many.leftOutLines, one.leftOutLines);
    EXPECT_EQ(many.leftOut, one.leftOut);
  }
}

// A package stream that cannot be written (here one opened for reading):
// the walk stops once the first record's turn has come, a few files on.
TEST_F(PackWorkersTest, FailedWriteStopsTheWalk) {
  for (int i = 0; i < 200; ++i) MakeFile(L"f" + std::to_wstring(i), {'x'});
  packer::SetPackWorkers(2);
  platform::UniqueFile readOnly(platform::OpenFile(ToProgramPath(base_ / "package.bin"), "rb"));
  ASSERT_TRUE(readOnly);
  g_packageOut = readOnly.get();
  std::optional<std::string> trace;
  trace = CaptureDebugOutput([&] { EXPECT_FALSE(AppendTree(root_)); });
  ASSERT_TRUE(trace);
  // Each worker has at most kJobsAheadPerWorker files in hand.
  EXPECT_LE(std::count(trace->begin(), trace->end(), '\n'), 2 * static_cast<long>(publisher::kJobsAheadPerWorker) + 1)
      << *trace;
}

}  // namespace
