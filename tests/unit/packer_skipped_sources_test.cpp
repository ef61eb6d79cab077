// Files that are not packed: those that cannot be read, the package's own
// file inside the source tree, and directories the walk is already in; and
// failures that leave the package unusable.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "app/globals.h"
#include "packer/append_tree.h"
#include "packer/write_file_record.h"
#include "packer_test_fixture.h"

namespace {

using SkippedSourcesTest = PackerTest;

// A file that cannot be read leaves no byte: the next record follows the
// previous one directly.
TEST_F(SkippedSourcesTest, UnreadableFileLeavesNoByte) {
  MakeFile(L"a", {'a'});
  std::error_code failed;
  std::filesystem::create_symlink(base_ / "missing", base_ / "src" / "b", failed);
  if (failed) GTEST_SKIP() << "cannot make a symbolic link here: " << failed.message();
  MakeFile(L"c", {'c'});
  EXPECT_EQ(packer::WriteFileRecord(package_.get(), SourcePath(L"b")), packer::RecordResult::kSkipped);
  EXPECT_TRUE(PackageBytes().empty());

  std::vector<std::wstring> paths = PathsOf(PackTree());
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths, (std::vector<std::wstring>{L".\\a", L".\\c"}));
}

#ifndef _WIN32
// Opening a named pipe for reading would wait for a writer that never comes.
TEST_F(SkippedSourcesTest, NamedPipeIsLeftOutInsteadOfWaitedFor) {
  MakeFile(L"a", {'a'});
  ASSERT_EQ(mkfifo((base_ / "src" / "pipe").c_str(), 0600), 0);
  EXPECT_EQ(packer::WriteFileRecord(package_.get(), SourcePath(L"pipe")), packer::RecordResult::kSkipped);
  EXPECT_TRUE(PackageBytes().empty());
  EXPECT_EQ(PathsOf(PackTree()), std::vector<std::wstring>{L".\\a"});
}
#endif

TEST_F(SkippedSourcesTest, MissingFileIsSkippedWithNothingWritten) {
  EXPECT_EQ(packer::WriteFileRecord(package_.get(), SourcePath(L"missing")), packer::RecordResult::kSkipped);
  EXPECT_TRUE(PackageBytes().empty());
}

// The target may lie inside the source tree; packing it would read a file
// that grows as it is read.
TEST_F(SkippedSourcesTest, PackageInsideTheSourceTreeIsNotPacked) {
  MakeFile(L"a", {'a'});
  MakeFile(L"target.exe", {'M', 'Z'});
  platform::UniqueFile target(platform::OpenFile(SourcePath(L"target.exe"), "ab"));
  ASSERT_TRUE(target);
  g_packageOut = target.get();
  EXPECT_TRUE(AppendTree(root_));
  target.reset();

  const Bytes carrier = ReadWholeFile(base_ / "src" / "target.exe");
  ASSERT_GE(carrier.size(), 2u);
  EXPECT_EQ(Bytes(carrier.begin(), carrier.begin() + 2), (Bytes{'M', 'Z'}));
  EXPECT_EQ(PathsOf(ParseRecords(Bytes(carrier.begin() + 2, carrier.end()))), std::vector<std::wstring>{L".\\a"});
}

// A link from d back to the root would walk the same files again and
// again, down to the path limit.
TEST_F(SkippedSourcesTest, DirectoryAlreadyOnTheWalkPathIsNotEnteredAgain) {
  MakeFile(L"a", {'a'});
  MakeDirectory(L"d");
  MakeFile(L"d\\x", {'x'});
  std::error_code failed;
  std::filesystem::create_directory_symlink(base_ / "src", base_ / "src" / "d" / "loop", failed);
  if (failed) GTEST_SKIP() << "cannot make a directory link here: " << failed.message();

  std::vector<PackedRecord> records;
  const std::optional<std::string> trace = CaptureDebugOutput([&] { records = PackTree(); });
  std::vector<std::wstring> paths = PathsOf(records);
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths, (std::vector<std::wstring>{L".\\a", L".\\d\\x"}));
  if (trace) {
    const std::string loop = AsTraced(SourcePath(L"d\\loop"));
    EXPECT_NE(trace->find("<" + loop + ">\nleft out, already on the walk path: <" + loop + ">\n"),
              std::string::npos);
  }
}

// A link to a directory outside the tree is walked like any directory.
TEST_F(SkippedSourcesTest, LinkToADirectoryIsWalked) {
  std::filesystem::create_directory(base_ / "elsewhere");
  std::ofstream(base_ / "elsewhere" / "e") << "e";
  std::error_code failed;
  std::filesystem::create_directory_symlink(base_ / "elsewhere", base_ / "src" / "link", failed);
  if (failed) GTEST_SKIP() << "cannot make a directory link here: " << failed.message();
  EXPECT_EQ(PathsOf(PackTree()), std::vector<std::wstring>{L".\\link\\e"});
}

// Once its head is written a record cannot be taken back: a source whose
// reads fail then breaks the package. Linux's /proc/self/mem opens, but
// fails to read at offset 0.
TEST_F(SkippedSourcesTest, ReadErrorAfterTheHeadBreaksThePackage) {
  const std::wstring source = L"\\proc\\self\\mem";
  {
    platform::UniqueFile probe(platform::OpenFile(source, "rb"));
    unsigned char byte;
    if (!probe || std::fread(&byte, 1, 1, probe.get()) != 0 || !std::ferror(probe.get())) {
      GTEST_SKIP() << "no file here that opens but cannot be read";
    }
  }
  g_sourceRoot = L"\\proc\\self";
  EXPECT_EQ(packer::WriteFileRecord(package_.get(), source), packer::RecordResult::kPackageBroken);
}

// A package stream that cannot be written (here one opened for reading)
// breaks the package and stops the walk.
TEST_F(SkippedSourcesTest, FailedWriteStopsTheWalk) {
  MakeFile(L"a", {'a'});
  MakeDirectory(L"d");
  MakeFile(L"d\\x", {'x'});
  platform::UniqueFile readOnly(platform::OpenFile(ToProgramPath(base_ / "package.bin"), "rb"));
  ASSERT_TRUE(readOnly);
  EXPECT_EQ(packer::WriteFileRecord(readOnly.get(), SourcePath(L"a")), packer::RecordResult::kPackageBroken);
  g_packageOut = readOnly.get();
  const std::optional<std::string> trace = CaptureDebugOutput([&] { EXPECT_FALSE(AppendTree(root_)); });
  // The first file met is the last one traced.
  if (trace) {
    EXPECT_EQ(std::count(trace->begin(), trace->end(), '\n'), trace->front() == '<' ? 2 : 1) << *trace;
  }
}

}  // namespace
