// Whether two files hold the same bytes.
#pragma once

#include <string>

namespace publisher {

// True when the files at `first` and `second` can both be read and hold the
// same bytes (so the same size). Reads both in step and stops at the first
// difference; false when either cannot be opened or read.
bool SameFileContent(const std::wstring& first, const std::wstring& second);

}  // namespace publisher
