// Command line, own executable and current directory on Windows.
#include <windows.h>
#include <shellapi.h>

#include "platform/platform.h"

namespace platform {

std::vector<std::wstring> CommandLineWords() {
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  if (words == nullptr) return {};
  std::vector<std::wstring> result(words, words + count);
  LocalFree(words);
  return result;
}

std::wstring OwnExecutablePath() {
  // Long enough for any path the system can hand out, \\?\ ones included.
  std::wstring buffer(32768, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
  if (length == 0 || length >= buffer.size()) return std::wstring();
  buffer.resize(length);
  return buffer;
}

std::wstring CurrentDirectory() {
  wchar_t buffer[kMaxPath];
  const DWORD length = GetCurrentDirectoryW(kMaxPath, buffer);
  if (length == 0 || length >= kMaxPath) return std::wstring();
  return std::wstring(buffer, length);
}

}  // namespace platform
