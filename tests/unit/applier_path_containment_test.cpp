// Package paths that would reach outside the install directory, or onto a
// Windows device, are refused before anything is created.
#include <gtest/gtest.h>

#include <algorithm>

#include "applier/contained_path.h"
#include "applier_test_fixture.h"

namespace applier_test {
namespace {

std::wstring WithSlashes(std::wstring path) {
  std::replace(path.begin(), path.end(), L'\\', L'/');
  return path;
}

std::string Narrow(const std::wstring& path) {
  std::string narrow;
  for (const wchar_t unit : path) narrow += unit < 0x80 ? static_cast<char>(unit) : '?';
  return narrow;
}

struct PathCase {
  const wchar_t* path;
  bool contained;
};

TEST(ContainedPackagePath, JudgesEachPathWithEitherSeparator) {
  const PathCase cases[] = {
      {L".\\a.txt", true},
      {L".\\data\\data7.dat", true},
      {L"data\\data7.dat", true},
      {L".\\a\\b\\c\\d.bin", true},
      {L".\\.hidden", true},
      {L".\\x..y", true},
      {L".\\a b\\c d.txt", true},
      {L".\\console.txt", true},
      {L".\\nullable", true},
      {L".\\com10.txt", true},
      {L".\\lpt\\x", true},
      {L".\\\u65E5\u672C.txt", true},
      {L".\\a.quorvane-partial.txt", true},
      {L".\\a.quorvane-backup-x", true},
      {L".\\quorvane-lock", true},

      {L"", false},
      {L".\\", false},
      {L".", false},
      {L"..", false},
      {L"\\windows\\x.dll", false},
      {L".\\\\x", false},
      {L"\\\\server\\share\\x", false},
      {L"\\\\?\\C:\\x", false},
      {L"C:\\x", false},
      {L"C:x", false},
      {L".\\a:b", false},
      {L".\\a.txt::$DATA", false},
      {L"..\\x", false},
      {L".\\..\\x", false},
      {L".\\a\\..\\..\\x", false},
      {L".\\a\\..\\b", false},
      {L".\\a\\..", false},
      {L".\\a\\\\b", false},
      {L".\\a\\", false},
      {L".\\a\\.\\b", false},
      {L".\\.\\a", false},
      {L".\\a.", false},
      {L".\\a ", false},
      {L".\\dir.\\x", false},
      {L".\\dir \\x", false},
      {L".\\CON", false},
      {L".\\con", false},
      {L".\\PRN", false},
      {L".\\d\\aux.dat", false},
      {L".\\nul.txt", false},
      {L".\\Nul .txt", false},
      {L".\\COM1", false},
      {L".\\lpt9.log", false},
      {L".\\com\u00B9", false},
      {L".\\CONIN$", false},
      {L".\\conout$.x", false},
      // The update's own side files: a record could overwrite one that
      // another record's undo needs.
      {L".\\a.txt.quorvane-partial", false},
      {L".\\d\\a.txt.QUORVANE-BACKUP", false},
      {L".\\a.txt.quorvane-backup-12", false},
      {L".\\x.quorvane-partial\\y", false},
      // The lock file that keeps two updates of the folder apart.
      {L".\\.quorvane-lock", false},
      {L".\\d\\.Quorvane-Lock", false},
      {L".\\a.quorvane-lock-2", false},
      // Names that Windows does not hold: every update that names one fails.
      {L".\\a*b", false},
      {L".\\a?b", false},
      {L".\\d<\\x", false},
      {L".\\a>b", false},
      {L".\\a|b", false},
      {L".\\a\"b", false},
      {L".\\a\tb", false},
      {L".\\a\x1F", false},
      {L".\\\xD800.txt", false},
      {L".\\x\xDC00", false},
      {L".\\\xDC00\xD800", false},
      {L".\\\xD83D\xDE00.txt", true},
      {L".\\COM0", false},
      {L".\\lpt0.txt", false},
  };
  for (const PathCase& c : cases) {
    for (const std::wstring& path : {std::wstring(c.path), WithSlashes(c.path)}) {
      SCOPED_TRACE(Narrow(path));
      EXPECT_EQ(applier::IsContainedPackagePath(path), c.contained);
    }
  }
}

// Each hostile record follows a good one; the run must leave nothing
// anywhere in the test's directory, the good file included.
TEST_F(ApplierTest, HostilePathsWriteNothingAnywhere) {
  const std::wstring outside = ToProgramPath(base_ / "escape.txt");
  const std::wstring rooted = outside.substr(outside.find(L'\\'));  // without a drive, where there is one
  const std::wstring hostile[] = {
      L"..\\escape.txt",
      L".\\..\\escape.txt",
      L".\\d\\..\\..\\escape.txt",
      rooted,
      L".\\" + rooted,
      L"C:" + rooted,
      L".\\nul",
      L".\\escape.txt:stream",
      L".\\escape.txt.",
  };
  for (const std::wstring& backslashed : hostile) {
    for (const std::wstring& path : {backslashed, WithSlashes(backslashed)}) {
      SCOPED_TRACE(Narrow(path));
      WriteCarrier(Package(Concat({FileRecordOf(L".\\good.txt", {'o', 'k'}), FileRecordOf(path, {'x'})})));
      EXPECT_EQ(ApplyCarrier().results, (std::vector<int>{1, 0}));
      EXPECT_EQ(TreeUnder(base_), (std::vector<std::string>{"carrier.exe", "install/"}));
    }
  }
}

}  // namespace
}  // namespace applier_test
