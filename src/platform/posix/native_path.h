// Conversions between the program's paths (UTF-16 units, "\" separators)
// and POSIX paths (UTF-8 bytes, "/" separators).
#pragma once

#include <string>

namespace platform::posix {

// UTF-16 units to UTF-8; a lone surrogate becomes U+FFFD.
std::string ToUtf8(const std::wstring& units);
// UTF-8 to UTF-16 units; a byte that starts no valid sequence becomes U+FFFD.
std::wstring FromUtf8(const std::string& bytes);

// A program path as the system takes it: UTF-8, every "\" made "/".
std::string ToNativePath(const std::wstring& path);
// A system path as the program keeps it: UTF-16, every "/" made "\".
std::wstring FromNativePath(const std::string& path);

}  // namespace platform::posix
