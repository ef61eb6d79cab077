// The rule that keeps every extracted file inside the install directory.
#pragma once

#include <string>

namespace applier {

// True when `packagePath`, joined to the install directory, names a file
// inside it, on Windows as well as elsewhere. After an optional leading
// ".\" the path must be relative (no leading separator, so neither rooted
// nor UNC), and each of its components must pass the rule for names that
// Windows holds as given (package::IsAllowedPathComponent: not empty, no
// ".." and no name ending in a dot or a space, no ":" that would name a
// drive or a stream, no device name, no name of the update's side files).
// Both "\" and "/" separate components, as they do for Windows.
bool IsContainedPackagePath(const std::wstring& packagePath);

}  // namespace applier
