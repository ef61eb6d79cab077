// Reading a package's records in apply mode.
#pragma once

#include <cstdio>

// Reads the record at the stream's position and applies it.
// Returns 1 when a file record was applied and the stream stands on the
// next tag, 0 when the record could not be applied, -1 at the trailer.
int ApplyNextRecord(std::FILE* package);
