// The walk's order: depth first, in the order the listing delivers entries,
// for the records and for the trace lines.
#include <gtest/gtest.h>

#include "packer/append_tree.h"
#include "packer_test_fixture.h"

namespace {

// What the walk must produce for the tree under `root`, worked out with
// std::filesystem's own recursive listing, which is pre-order in the
// platform's listing order too.
struct ExpectedWalk {
  std::vector<std::wstring> records;  // package paths of the files
  std::string trace;                  // "<dir>\n" and "file\n" lines
};

ExpectedWalk ExpectWalk(const std::filesystem::path& root) {
  ExpectedWalk expected;
  const std::wstring rootPath = ToProgramPath(root);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::wstring relative = ToProgramPath(entry.path().lexically_relative(root));
    const std::wstring full = rootPath + L"\\" + relative;
    if (entry.is_directory()) {
      expected.trace += "<" + AsTraced(full) + ">\n";
    } else {
      expected.trace += AsTraced(full) + "\n";
      expected.records.push_back(L".\\" + relative);
    }
  }
  return expected;
}

class WalkOrderTest : public PackerTest {
 protected:
  // a, d (holding x and e with y), b, f (holding z), and an empty directory.
  void MakeTree() {
    MakeFile(L"a", {'a'});
    MakeDirectory(L"d");
    MakeFile(L"d\\x", {'x'});
    MakeDirectory(L"d\\e");
    MakeFile(L"d\\e\\y", {'y'});
    MakeFile(L"b", {'b'});
    MakeDirectory(L"f");
    MakeFile(L"f\\z", {'z'});
    MakeDirectory(L"empty");
  }
};

TEST_F(WalkOrderTest, RecordsComeDepthFirstInListingOrder) {
  MakeTree();
  const ExpectedWalk expected = ExpectWalk(base_ / "src");
  const std::vector<PackedRecord> records = PackTree();
  EXPECT_EQ(PathsOf(records), expected.records);
  for (const PackedRecord& record : records) {
    SCOPED_TRACE(Narrow(record.path));
    // Each file holds its own name's last letter.
    EXPECT_EQ(record.content, Bytes{static_cast<unsigned char>(record.path.back())});
  }
}

TEST_F(WalkOrderTest, TraceNamesEveryDirectoryBeforeItsContents) {
  MakeTree();
  const ExpectedWalk expected = ExpectWalk(base_ / "src");
  const std::optional<std::string> trace = CaptureDebugOutput([&] { EXPECT_TRUE(AppendTree(root_)); });
  if (!trace) GTEST_SKIP() << "the debugger output cannot be read back on this platform";
  EXPECT_EQ(*trace, expected.trace);
  EXPECT_NE(trace->find("<" + AsTraced(SourcePath(L"empty")) + ">\n"), std::string::npos);
}

TEST_F(WalkOrderTest, RootWithoutFilesGivesNoRecords) {
  struct Case {
    const char* name;
    std::wstring root;
  };
  MakeDirectory(L"empty");
  const Case cases[] = {
      {"empty directory", SourcePath(L"empty")},
      {"missing directory", SourcePath(L"missing")},
      {"a file as root", ToProgramPath(base_ / "package.bin")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<std::string> trace = CaptureDebugOutput([&] { EXPECT_TRUE(AppendTree(c.root)); });
    EXPECT_TRUE(PackageBytes().empty());
    if (trace) {
      EXPECT_EQ(*trace, "");
    }
  }
}

}  // namespace
