// Extracting one record's zlib stream into its destination file.
#pragma once

#include <cstdio>
#include <string>

namespace applier {

// Inflates the zlib stream at the package stream's position into a partial
// file beside `outputPath` (creating missing directories) and, once the
// whole stream has inflated and its Adler-32 matched, moves that file over
// `outputPath`. The package stream then stands on the first byte after the
// zlib stream.
// Returns 1 on success. Returns 0 when the partial file cannot be created,
// the inflater cannot be set up, the data is damaged or ends before the
// stream, a write fails, or the destination cannot be replaced; then the
// partial file is gone and the destination keeps its previous content.
int InflateToFile(std::FILE* package, const std::wstring& outputPath);

}  // namespace applier
