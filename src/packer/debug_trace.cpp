// Formatting of trace lines into a fixed buffer, and their output.
#include "packer/debug_trace.h"

#include <cstdarg>
#include <cwchar>

#include "platform/platform.h"

namespace packer {
namespace {

std::wstring FormatTraceList(const wchar_t* format, std::va_list args) {
  wchar_t buffer[kTraceBufferUnits] = {};
  const int written = std::vswprintf(buffer, kTraceBufferUnits, format, args);
  // On overflow the C runtime returns a negative count and Windows' runtime
  // leaves the buffer unterminated; end the cut text here in either case.
  if (written < 0 || static_cast<std::size_t>(written) >= kTraceBufferUnits) {
    buffer[kTraceBufferUnits - 2] = L'\n';
    buffer[kTraceBufferUnits - 1] = L'\0';
  }
  return buffer;
}

}  // namespace

std::wstring FormatTrace(const wchar_t* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::wstring text = FormatTraceList(format, args);
  va_end(args);
  return text;
}

void DebugTrace(const wchar_t* format, ...) {
  std::va_list args;
  va_start(args, format);
  const std::wstring text = FormatTraceList(format, args);
  va_end(args);
  platform::DebugOutput(text);
}

}  // namespace packer
