// The process-wide state that the drivers hand to the packer and the
// applier. Only the drivers write it.
#pragma once

#include <cstdio>
#include <string>

// Pack mode: the directory whose files are packed ("src" of the current
// directory); the record writer makes package paths relative to it.
extern std::wstring g_sourceRoot;
// Apply mode: the game's install directory, set once the user confirmed;
// the record reader joins package paths to it.
extern std::wstring g_installDir;
// Pack mode: the target stream, set only while the tree walk runs.
extern std::FILE* g_packageOut;
