// The walk of the source tree in pack mode.
#pragma once

#include <cstddef>
#include <string>

// Appends one record for every file below `root` to g_packageOut, depth
// first in listing order, and traces every directory ("<path>") and file
// ("path") it meets to the debugger output. Entries whose names cannot
// stand in a package path, whose path would not fit in platform::kMaxPath
// units, or (for directories) that are already on the walk path are left
// out with a trace line; files that cannot be read are left out whole, and
// traced with the reason when their record's turn comes. The records may be
// made several at once (MakeRecordSink); they are written in the walk's
// order all the same. Returns false when the package could not be written
// whole, after which the caller must discard it; a root that cannot be
// listed gives true and no records. `entriesLeftOut`, when given, receives
// how many files and folders were left out (the package's own file and
// folders already on the walk path are not counted: no patch could hold
// them).
bool AppendTree(const std::wstring& root, std::size_t* entriesLeftOut = nullptr);
