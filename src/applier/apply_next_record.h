// Reading a package's records in apply mode.
#pragma once

#include <cstdio>

#include "applier/update.h"

// Reads the record at the stream's position and stages it into `update`:
// a "file" record is inflated, a "dlta" record rebuilt from the old file,
// into a partial file beside its destination under the install directory;
// a "remv" record's file is checked for the commit to remove.
// Returns 1 when the record was staged and the stream stands on the next
// tag (a removal of a file already gone included), 0 when it could not be
// staged (a tag of no record, an empty or cut-short path or head, or what
// the update refuses: see Update; its fault() says why), -1 at the
// trailer, whose payload length it consumes.
int ApplyNextRecord(std::FILE* package, applier::Update& update);
