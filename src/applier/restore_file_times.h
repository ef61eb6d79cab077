// Giving an extracted file the times its record carries.
#pragma once

#include <string>

#include "platform/platform.h"

namespace applier {

// Sets creation, last access and last write time of the closed file at
// `path`, unchanged, through a handle of its own. Where the system cannot
// set a creation time it passes over that one. Returns nonzero when the
// times were set, 0 when the file cannot be opened or a time not set.
int RestoreFileTimes(const std::wstring& path, const platform::FileTimes& times);

}  // namespace applier
