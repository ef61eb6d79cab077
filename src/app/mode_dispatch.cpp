// Mode dispatch: the command line decides between pack and apply mode.
#include <cwctype>

#include "app/drivers.h"
#include "platform/platform.h"

namespace {

bool IsPackSwitch(const std::wstring& word) {
  return word.size() == 2 && word[0] == L'-' && std::towlower(static_cast<wint_t>(word[1])) == L'l';
}

}  // namespace

ModeChoice ChooseMode(const std::vector<std::wstring>& words) {
  if (words.size() == 3 && IsPackSwitch(words[1])) return ModeChoice{true, words[2]};
  return ModeChoice{};
}

int RunProgram() {
  const std::vector<std::wstring> words = platform::CommandLineWords();
  const ModeChoice choice = ChooseMode(words);
  if (choice.pack) return RunPackMode(choice.target);
  // Without words at all the carrier is found through the program's own file.
  return RunApplyMode(words.empty() ? std::wstring() : words[0]);
}
