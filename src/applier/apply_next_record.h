// Reading a package's records in apply mode.
#pragma once

#include <cstdio>

// Reads the record at the stream's position and applies it: a "file" record
// is checked, inflated into the install directory (g_installDir) and given
// back its times.
// Returns 1 when a file record was applied and the stream stands on the
// next tag, 0 when the record could not be applied (a tag other than "file"
// and "feof", an empty or cut-short path, a path that would leave the
// install directory or not fit, cut-short times, or a failed extraction),
// -1 at the trailer, whose payload length it consumes.
int ApplyNextRecord(std::FILE* package);
