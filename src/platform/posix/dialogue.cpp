// Message boxes and debugger output on POSIX: one line per box on the
// terminal, errors on standard error, the confirmation answered on standard
// input.
#include <iostream>
#include <string>

#include "platform/platform.h"
#include "platform/posix/native_path.h"
#include "platform/posix/process.h"

namespace platform {

int ShowMessageBox(const std::wstring& text, const std::wstring& caption, unsigned style) {
  const std::string line = posix::ToUtf8(caption) + ": " + posix::ToUtf8(text);
  const bool isError = caption == L"ERROR" || (style & kMbIconMask) == kMbIconError;
  if (isError) {
    std::cerr << line << std::endl;
    posix::NoteErrorShown();
    return kIdOk;
  }
  if ((style & kMbYesNo) != kMbYesNo) {
    std::cout << line << std::endl;
    return kIdOk;
  }
  std::cout << line << " [Y/n] " << std::flush;
  std::string answer;
  // As on Windows, only an explicit No stops: an empty line or the end of
  // input goes on.
  if (std::getline(std::cin, answer) && !answer.empty() && (answer[0] == 'n' || answer[0] == 'N')) {
    return kIdNo;
  }
  return kIdYes;
}

void DebugOutput(const std::wstring& text) { std::cerr << posix::ToUtf8(text) << std::flush; }

void DebugOutputNarrow(const char* text) { std::cerr << text << std::flush; }

}  // namespace platform
