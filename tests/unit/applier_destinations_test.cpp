// Where extracted files land: missing directories are made, existing files
// replaced whole, and a destination that cannot be replaced keeps what it
// had.
#include <gtest/gtest.h>

#include <functional>

#include "applier_test_fixture.h"
#include "platform/unique_file.h"

namespace applier_test {
namespace {

using Tree = std::vector<std::string>;

TEST_F(ApplierTest, MissingDirectoriesAreCreatedOuterFirst) {
  const Bytes content = MixedContent(3000);
  WriteCarrier(
      Package(Concat({FileRecordOf(L".\\d1\\d2\\f.txt", content), FileRecordOf(L".\\m/n\\o.txt", {'o'})})));
  EXPECT_EQ(ApplyCarrier().results, (std::vector<int>{1, 1, -1}));
  EXPECT_EQ(TreeUnder(install_), (Tree{"d1/", "d1/d2/", "d1/d2/f.txt", "m/", "m/n/", "m/n/o.txt"}));
  EXPECT_EQ(ReadWholeFile(Installed("d1/d2/f.txt")), content);
}

TEST_F(ApplierTest, LongerFileIsReplacedByAShorterOne) {
  WriteWholeFile(Installed("victim.txt"), MixedContent(5000));
  WriteCarrier(Package(FileRecordOf(L".\\victim.txt", {'s', 'h', 'o', 'r', 't'})));
  EXPECT_EQ(ApplyCarrier().results, (std::vector<int>{1, -1}));
  EXPECT_EQ(ReadWholeFile(Installed("victim.txt")), (Bytes{'s', 'h', 'o', 'r', 't'}));
  EXPECT_EQ(TreeUnder(install_), (Tree{"victim.txt"}));
}

TEST_F(ApplierTest, ZeroUnitInAPathIsSkippedButConsumed) {
  WriteCarrier(
      Package(Concat({FileRecordOf(std::wstring(L"A\0B", 3), {'1'}), FileRecordOf(L".\\next.txt", {'2'})})));
  EXPECT_EQ(ApplyCarrier().results, (std::vector<int>{1, 1, -1}));
  EXPECT_EQ(TreeUnder(install_), (Tree{"AB", "next.txt"}));
  EXPECT_EQ(ReadWholeFile(Installed("AB")), (Bytes{'1'}));
}

TEST_F(ApplierTest, OnlyTheLastOfTwoPackagesApplies) {
  WriteCarrier(Concat(
      {Package(FileRecordOf(L".\\first.txt", {'1'})), Package(FileRecordOf(L".\\second.txt", {'2'}))}));
  EXPECT_EQ(ApplyCarrier().results, (std::vector<int>{1, -1}));
  EXPECT_EQ(TreeUnder(install_), (Tree{"second.txt"}));
}

// A file named like the partial file may be a leftover of an interrupted
// run or someone's own: it is neither used nor removed.
TEST_F(ApplierTest, FileInTheWayOfThePartialFileIsLeftAlone) {
  const Bytes theirs = {'t', 'h', 'e', 'i', 'r', 's'};
  WriteWholeFile(Installed("victim.txt.quorvane-partial"), theirs);
  WriteCarrier(Package(FileRecordOf(L".\\victim.txt", {'n', 'e', 'w'})));
  EXPECT_EQ(ApplyCarrier().results, (std::vector<int>{1, -1}));
  EXPECT_EQ(ReadWholeFile(Installed("victim.txt")), (Bytes{'n', 'e', 'w'}));
  EXPECT_EQ(ReadWholeFile(Installed("victim.txt.quorvane-partial")), theirs);
  EXPECT_EQ(TreeUnder(install_), (Tree{"victim.txt", "victim.txt.quorvane-partial"}));
}

// A destination that cannot be replaced fails the update while it is
// staged, and the record before it is undone with it.
TEST_F(ApplierTest, DestinationThatCannotBeReplacedKeepsItsContent) {
  const Bytes oldContent = MixedContent(2000, 3);
  const Bytes newContent = MixedContent(9000, 4);
  namespace fs = std::filesystem;
  struct BlockedCase {
    const char* name;
    const wchar_t* path;
    std::function<void()> block;
    Tree tree;  // the install directory afterwards
  };
  const BlockedCase cases[] = {
      {"a directory of that name",
       L".\\victim.txt",
       [&] {
         fs::create_directory(Installed("victim.txt"));
         WriteWholeFile(Installed("victim.txt/inner"), oldContent);
       },
       {"victim.txt/", "victim.txt/inner"}},
      {"a file where its folder should be",
       L".\\victim.txt\\x.txt",
       [&] { WriteWholeFile(Installed("victim.txt"), oldContent); },
       {"victim.txt"}},
      {"a read-only file",
       L".\\victim.txt",
       [&] {
         WriteWholeFile(Installed("victim.txt"), oldContent);
         fs::permissions(Installed("victim.txt"),
                         fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
       },
       {"victim.txt"}},
  };
  for (const BlockedCase& c : cases) {
    SCOPED_TRACE(c.name);
    c.block();
    WriteCarrier(Package(Concat({FileRecordOf(L".\\a.txt", {'a'}), FileRecordOf(c.path, newContent)})));
    EXPECT_EQ(ApplyCarrier().results, (std::vector<int>{1, 0}));
    EXPECT_EQ(TreeUnder(install_), c.tree);
    const fs::path kept =
        fs::is_directory(Installed("victim.txt")) ? Installed("victim.txt/inner") : Installed("victim.txt");
    EXPECT_EQ(ReadWholeFile(kept), oldContent);

    fs::permissions(Installed("victim.txt"), fs::perms::owner_write, fs::perm_options::add);
    fs::remove_all(install_);
    fs::create_directory(install_);
  }
}

// Windows refuses to replace a file that is open without delete sharing;
// POSIX replaces the name and the open file lives on unchanged, so there
// the case does not arise.
TEST_F(ApplierTest, FileInUseIsNotReplaced) {
#ifndef _WIN32
  GTEST_SKIP() << "only Windows keeps an open file from being replaced";
#endif
  const Bytes oldContent = MixedContent(2000, 3);
  WriteWholeFile(Installed("victim.txt"), oldContent);
  platform::UniqueFile inUse(platform::OpenFile(ToProgramPath(Installed("victim.txt")), "rb"));
  ASSERT_TRUE(inUse);
  WriteCarrier(Package(FileRecordOf(L".\\victim.txt", MixedContent(9000, 4))));
  EXPECT_EQ(ApplyCarrier().results, (std::vector<int>{0}));
  inUse.reset();
  EXPECT_EQ(ReadWholeFile(Installed("victim.txt")), oldContent);
  EXPECT_EQ(TreeUnder(install_), (Tree{"victim.txt"}));
}

}  // namespace
}  // namespace applier_test
