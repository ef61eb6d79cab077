// Message boxes and debugger output on Windows.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

int ShowMessageBox(const std::wstring& text, const std::wstring& caption, unsigned style) {
  return MessageBoxW(nullptr, text.c_str(), caption.c_str(), style);
}

void DebugOutput(const std::wstring& text) { OutputDebugStringW(text.c_str()); }

void DebugOutputNarrow(const char* text) { OutputDebugStringA(text); }

}  // namespace platform
