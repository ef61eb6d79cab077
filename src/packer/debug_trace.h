// The packer's trace of the paths it visits, sent to the debugger output.
#pragma once

#include <cstddef>
#include <string>

namespace packer {

// Size of the trace buffer in UTF-16 units, terminator included.
constexpr std::size_t kTraceBufferUnits = 512;

// Formats like swprintf ("%ls" takes a wide string in every runtime) into
// at most kTraceBufferUnits - 1 units. A longer text is cut, and its last
// kept unit becomes a line feed so that the cut line still ends a line.
std::wstring FormatTrace(const wchar_t* format, ...);

// Sends FormatTrace's text to the debugger output. No result.
void DebugTrace(const wchar_t* format, ...);

}  // namespace packer
