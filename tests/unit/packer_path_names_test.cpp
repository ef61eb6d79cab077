// Package paths: UTF-16 unit counts, dot names, names that cannot stand in
// a package, and paths too long for the program's path buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "packer/append_tree.h"
#include "packer/packable_name.h"
#include "packer_test_fixture.h"

namespace {

using PathNamesTest = PackerTest;

TEST_F(PathNamesTest, PathsCountUtf16UnitsAndKeepDotNames) {
  struct Case {
    std::wstring relative;
    std::size_t units;
  };
  const Case cases[] = {
      {L"a.txt", 7},
      {L"\x30C7\x30FC\x30BF.dat", 9},     // three BMP characters, one unit each
      {L"\xD834\xDD1E.txt", 8},           // U+1D11E, outside the BMP: two units
      {L".hidden", 9},
      {L".config\\settings", 18},         // a directory whose name begins with a dot
      {L"d\\\xD834\xDD1E\\x", 8},
  };
  MakeDirectory(L".config");
  MakeDirectory(L"d");
  MakeDirectory(L"d\\\xD834\xDD1E");
  for (const Case& c : cases) MakeFile(c.relative, {'q'});

  std::vector<std::wstring> paths = PathsOf(PackTree());
  std::sort(paths.begin(), paths.end());
  std::vector<std::wstring> expected;
  for (const Case& c : cases) {
    expected.push_back(L".\\" + c.relative);
    EXPECT_EQ(expected.back().size(), c.units) << Narrow(c.relative);
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(paths, expected);
}

TEST(PackableName, AcceptsWhatWindowsCanHoldUnchanged) {
  struct Case {
    std::wstring name;
    bool packable;
  };
  const Case cases[] = {
      {L"data7.dat", true},
      {L".config", true},
      {L"a b", true},
      {L"CONFIG.SYS", true},
      {L"lpt10.txt", true},
      {L"\xD834\xDD1E", true},
      {L"", false},
      {L"a\\b", false},
      {L"a/b", false},
      {L"c:d", false},
      {L"a*", false},
      {L"a?b", false},
      {L"\"q\"", false},
      {L"<x>", false},
      {L"a|b", false},
      {L"tab\there", false},
      {L"ends.", false},
      {L"ends ", false},
      {L"con", false},
      {L"NUL.txt", false},
      {L"Com1", false},
      {L"lpt9.log", false},
      // The applier refuses these too: a patch must never hold a file it
      // cannot apply.
      {L"CONIN$", false},
      {L"nul .txt", false},
      {L"com\u00B9", false},
      {L"COM0", false},
      {L"lpt0.txt", false},
      {L"\xD834", false},
      {L"x\xDD1E", false},
      {L"readme.txt.quorvane-partial", false},
      {L"readme.txt.Quorvane-Backup-3", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.name));
    EXPECT_EQ(packer::IsPackableName(c.name), c.packable);
  }
}

// Only a system that allows "\" and ":" in names can make these files.
TEST_F(PathNamesTest, NamesHoldingSeparatorsOrColonsAreLeftOutWithATraceLine) {
  const char* const badNames[] = {"a\\b", "c:d"};
  for (const char* name : badNames) std::ofstream(base_ / "src" / name) << "x";
  MakeFile(L"ok", {'o'});
  std::size_t listed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(base_ / "src")) {
    const std::u16string name = entry.path().filename().u16string();
    listed += name == u"a\\b" || name == u"c:d";
  }
  if (listed != std::size(badNames)) GTEST_SKIP() << "this file system cannot hold names with \\ or :";

  std::vector<PackedRecord> records;
  const std::optional<std::string> trace = CaptureDebugOutput([&] { records = PackTree(); });
  EXPECT_EQ(PathsOf(records), std::vector<std::wstring>{L".\\ok"});
  ASSERT_TRUE(trace);
  for (const char* name : badNames) {
    EXPECT_NE(trace->find("left out, name not allowed in a package: " + AsTraced(root_) + "/" + name + "\n"),
              std::string::npos)
        << name;
  }
}

// Every path must fit in 259 units; one that does not is left out whole,
// never packed under a shorter path, and the walk goes on.
TEST_F(PathNamesTest, PathsLongerThanTheLimitAreLeftOutWithTheirSubtrees) {
  // d's own path takes 255 units, so d\x takes 257, d\zz 258 (but its
  // listing pattern d\zz\* would take 260) and d\yyyy 260.
  const std::size_t nameUnits = 254 - root_.size();
  ASSERT_GT(nameUnits, 10u);
  const std::wstring d(nameUnits, L'd');
  MakeFile(L"before", {'b'});
  MakeDirectory(d);
  MakeFile(d + L"\\x", {'x'});
  MakeDirectory(d + L"\\zz");
  std::error_code failed;
  std::filesystem::create_directory(base_ / "src" / std::filesystem::path(d) / "zz" / "w", failed);
  std::ofstream(base_ / "src" / std::filesystem::path(d) / "zz" / "w" / "v") << "v";
  std::ofstream(base_ / "src" / std::filesystem::path(d) / "yyyy") << "y";
  MakeFile(L"after", {'a'});
  if (!platform::PathExists(SourcePath(d + L"\\yyyy"))) GTEST_SKIP() << "cannot make paths of 260 units here";

  std::vector<PackedRecord> records;
  const std::optional<std::string> trace = CaptureDebugOutput([&] { records = PackTree(); });
  std::vector<std::wstring> paths = PathsOf(records);
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths, (std::vector<std::wstring>{L".\\after", L".\\before", L".\\" + d + L"\\x"}));
  for (const PackedRecord& record : records) EXPECT_LT(root_.size() + record.path.size() - 1, platform::kMaxPath);
  if (!trace) return;
  const std::string directory = AsTraced(SourcePath(d));
  EXPECT_NE(trace->find("left out, path too long: " + directory + "/yyyy\n"), std::string::npos);
  EXPECT_NE(trace->find("<" + directory + "/zz>\nleft out, path too long: " + directory + "/zz/*\n"),
            std::string::npos);
}

}  // namespace
