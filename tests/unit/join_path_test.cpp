// Joining paths as the shell's PathAppendW does: one backslash between the
// parts, "." segments dropped, and a failure for results past 260 units.
#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

struct AppendCase {
  const wchar_t* path;
  const wchar_t* more;
  const wchar_t* expected;
};

TEST(JoinPath, JoinsWithOneBackslash) {
  const AppendCase cases[] = {
      {L"C:\\Games\\Q", L"zanthe.exe", L"C:\\Games\\Q\\zanthe.exe"},
      {L"C:\\Games\\Q\\", L"zanthe.exe", L"C:\\Games\\Q\\zanthe.exe"},
      {L"C:\\cur", L"src", L"C:\\cur\\src"},
      {L"", L"zanthe.exe", L"zanthe.exe"},
      {L".\\", L"zanthe.exe", L"zanthe.exe"},
      {L"D", L".\\data\\data7.dat", L"D\\data\\data7.dat"},
      {L"C:\\inst", L".\\data\\data7.dat", L"C:\\inst\\data\\data7.dat"},
      {L".\\", L".\\data\\data7.dat", L"data\\data7.dat"},
      {L"", L".\\data\\data7.dat", L"data\\data7.dat"},
      {L"C:\\src", L"*", L"C:\\src\\*"},
      {L"C:\\a", L"\\b", L"C:\\a\\b"},
  };
  for (const AppendCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    std::wstring path = c.path;
    ASSERT_TRUE(platform::JoinPath(path, c.more));
    EXPECT_EQ(path, c.expected);
  }
}

TEST(JoinPath, FailsPastTheLimitAndLeavesThePath) {
  const std::wstring directory = L"C:\\" + std::wstring(250, L'd');
  std::wstring path = directory;
  EXPECT_TRUE(platform::JoinPath(path, L"abcd"));  // 255 units
  EXPECT_EQ(path.size(), 258u);
  path = directory;
  EXPECT_FALSE(platform::JoinPath(path, std::wstring(10, L'f')));
  EXPECT_EQ(path, directory);
}

TEST(RelativePath, GivesDotBackslashAndTheRest) {
  EXPECT_EQ(platform::RelativePath(L"C:\\w\\src", L"C:\\w\\src\\a.txt"), L".\\a.txt");
  EXPECT_EQ(platform::RelativePath(L"C:\\w\\src", L"C:\\w\\src\\d\\x.bin"), L".\\d\\x.bin");
  EXPECT_EQ(platform::RelativePath(L"C:\\w\\src", L"C:\\w\\other\\x.bin"), L"");
}

}  // namespace
