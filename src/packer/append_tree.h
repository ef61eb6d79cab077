// The walk of the source tree in pack mode.
#pragma once

#include <string>

// Appends one record for every file below `root` to g_packageOut, depth
// first in listing order. Returns false when the package could not be
// written whole, after which the caller must discard it.
bool AppendTree(const std::wstring& root);
