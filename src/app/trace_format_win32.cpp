// Trace formatting in the Windows program goes to the system's C runtime.
//
// The C++ headers of MinGW-w64 route the standard wide printf functions to
// MinGW's own implementation, which brings a floating-point formatter and
// multibyte conversions that the program never uses: about a tenth of its
// size. The trace only formats wide strings, which Windows' _vsnwprintf does
// alike; the trace formatter already takes both runtimes' way of reporting
// a cut text. This definition replaces MinGW's, so the linker leaves it out.
#include <cstdarg>
#include <cstddef>
#include <cwchar>

extern "C" int __cdecl __mingw_vsnwprintf(wchar_t* buffer, std::size_t count, const wchar_t* format,
                                          std::va_list args) {
  return _vsnwprintf(buffer, count, format, args);
}
