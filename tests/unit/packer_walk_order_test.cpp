// The walk's order: depth first, each folder in the order NTFS lists it,
// for the records and for the trace lines.
#include <gtest/gtest.h>

#include "packer/append_tree.h"
#include "packer_test_fixture.h"

namespace {

class WalkOrderTest : public PackerTest {
 protected:
  // Made in an order of its own; every file holds its name's last letter.
  void MakeTree() {
    MakeFile(L"b.txt", {'t'});
    MakeDirectory(L"Zed");
    MakeFile(L"Zed\\z9.txt", {'t'});
    MakeDirectory(L"Zed\\alpha");
    MakeFile(L"Zed\\alpha\\c.TXT", {'T'});
    MakeFile(L"~t", {'t'});
    MakeFile(L"_x.dat", {'t'});
    MakeDirectory(L"empty");
    MakeFile(L"A.txt", {'t'});
  }
};

// Each folder in the order Windows lists it on NTFS: by upper-cased names,
// so "_" (0x5F) comes after every letter and "~" after "_".
const std::vector<std::wstring> kRecords = {L".\\A.txt", L".\\b.txt", L".\\Zed\\alpha\\c.TXT",
                                            L".\\Zed\\z9.txt", L".\\_x.dat", L".\\~t"};

TEST_F(WalkOrderTest, RecordsComeDepthFirstInNtfsOrder) {
  MakeTree();
  const std::vector<PackedRecord> records = PackTree();
  EXPECT_EQ(PathsOf(records), kRecords);
  for (const PackedRecord& record : records) {
    SCOPED_TRACE(Narrow(record.path));
    EXPECT_EQ(record.content, Bytes{static_cast<unsigned char>(record.path.back())});
  }
}

TEST_F(WalkOrderTest, TraceNamesEveryDirectoryBeforeItsContents) {
  MakeTree();
  const std::optional<std::string> trace = CaptureDebugOutput([&] { EXPECT_TRUE(AppendTree(root_)); });
  if (!trace) GTEST_SKIP() << "the debugger output cannot be read back on this platform";
  std::string expected;
  for (const wchar_t* line : {L"A.txt", L"b.txt", L"<empty>", L"<Zed>", L"<Zed\\alpha>", L"Zed\\alpha\\c.TXT",
                              L"Zed\\z9.txt", L"_x.dat", L"~t"}) {
    const std::wstring text = line;
    expected += text[0] == L'<' ? "<" + AsTraced(SourcePath(text.substr(1, text.size() - 2))) + ">\n"
                                : AsTraced(SourcePath(text)) + "\n";
  }
  EXPECT_EQ(*trace, expected);
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
