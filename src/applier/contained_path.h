// The rule that keeps every extracted file inside the install directory.
#pragma once

#include <string>

namespace applier {

// True when `packagePath`, joined to the install directory, names a file
// inside it, on Windows as well as elsewhere. After an optional leading
// ".\" the path must be relative (no leading separator, so neither rooted
// nor UNC), hold no ":" (a drive or an alternate data stream), and consist
// of components that are each non-empty, not "..", not ending in a dot or
// a space (Windows drops those, so "a." would name "a"), and no device name
// that Windows reserves (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1-COM9,
// LPT1-LPT9, in any letter case and with any extension, as in "nul.txt"),
// and no name of the update's own side files (package/side_file_names.h).
// Both "\" and "/" separate components, as they do for Windows.
bool IsContainedPackagePath(const std::wstring& packagePath);

}  // namespace applier
