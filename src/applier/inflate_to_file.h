// Extracting one record's zlib stream into a file.
#pragma once

#include <cstdio>

namespace applier {

// Inflates the zlib stream at the package stream's position into `output`,
// every write checked. The package stream then stands on the first byte
// after the zlib stream.
// Returns 1 when the whole stream inflated and its Adler-32 matched; 0
// when the data is damaged or ends before the stream, the inflater cannot
// be set up, or a write fails (a full disk).
int InflateToFile(std::FILE* package, std::FILE* output);

}  // namespace applier
