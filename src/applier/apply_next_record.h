// Reading a package's records in apply mode.
#pragma once

#include <cstdio>

#include "applier/update.h"

// Reads the record at the stream's position and stages it into `update`:
// a "file" record is checked and inflated into a partial file beside its
// destination under the install directory.
// Returns 1 when a file record was staged and the stream stands on the
// next tag, 0 when the record could not be staged (a tag other than "file"
// and "feof", an empty or cut-short path, a path that would leave the
// install directory or not fit, cut-short times, a destination that cannot
// be replaced, or a failed extraction), -1 at the trailer, whose payload
// length it consumes.
int ApplyNextRecord(std::FILE* package, applier::Update& update);
