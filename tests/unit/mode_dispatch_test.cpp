// Which command lines select pack mode and which apply mode.
#include <gtest/gtest.h>

#include "app/drivers.h"

namespace {

struct DispatchCase {
  std::vector<std::wstring> words;
  bool pack;
  std::wstring target;
};

TEST(ModeDispatch, ChoosesModeFromWords) {
  const DispatchCase cases[] = {
      {{L"up.exe", L"-l", L"out.exe"}, true, L"out.exe"},
      {{L"up.exe", L"-L", L"out.exe"}, true, L"out.exe"},
      {{L"up.exe", L"-l", L"C:\\a b\\t.exe"}, true, L"C:\\a b\\t.exe"},
      {{L"up.exe"}, false, L""},
      {{}, false, L""},
      {{L"up.exe", L"-l"}, false, L""},
      {{L"up.exe", L"-l", L"a", L"b"}, false, L""},
      {{L"up.exe", L"-x", L"out.exe"}, false, L""},
      {{L"up.exe", L"/l", L"out.exe"}, false, L""},
      {{L"up.exe", L"-ll", L"out.exe"}, false, L""},
      {{L"up.exe", L"out.exe", L"-l"}, false, L""},
  };
  for (const DispatchCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "words: " << c.words.size() << (c.words.size() > 1 ? " second: " : "")
                                    << (c.words.size() > 1 ? std::string(c.words[1].begin(), c.words[1].end()) : ""));
    const ModeChoice choice = ChooseMode(c.words);
    EXPECT_EQ(choice.pack, c.pack);
    EXPECT_EQ(choice.target, c.target);
  }
}

}  // namespace
