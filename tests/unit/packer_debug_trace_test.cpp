// Trace lines: formatted into a 512-unit buffer, cut to whole lines.
#include <gtest/gtest.h>

#include "packer/debug_trace.h"
#include "packer_test_fixture.h"

namespace {

TEST(DebugTrace, FormatsWideStringsAndCutsLongLinesToTheBuffer) {
  struct Case {
    const char* name;
    const wchar_t* format;
    std::wstring argument;
    std::wstring expected;
  };
  const std::wstring fits(508, L'p');  // with "<", ">" and the line feed: 511 units
  const std::wstring tooLong(600, L'p');
  const Case cases[] = {
      {"directory", L"<%ls>\n", L"C:\\src\\d", L"<C:\\src\\d>\n"},
      {"file", L"%ls\n", L"C:\\src\\d\\\x30C7\xD834\xDD1E", L"C:\\src\\d\\\x30C7\xD834\xDD1E\n"},
      {"longest that fits", L"<%ls>\n", fits, L"<" + fits + L">\n"},
      {"one unit too long", L"<%ls>\n", fits + L"p", L"<" + fits + L"p\n"},
      {"far too long", L"%ls\n", tooLong, std::wstring(510, L'p') + L"\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(packer::FormatTrace(c.format, c.argument.c_str()), c.expected);
  }
}

TEST(DebugTrace, SendsTheLineToTheDebuggerOutput) {
  const std::optional<std::string> output =
      CaptureDebugOutput([] { packer::DebugTrace(L"<%ls>\n", L"C:\\src\\\x30C7"); });
  if (!output) GTEST_SKIP() << "the debugger output cannot be read back on this platform";
  EXPECT_EQ(*output, "<C:\\src\\\xE3\x83\x87>\n");
}

}  // namespace
