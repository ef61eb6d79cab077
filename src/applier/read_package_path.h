// Reading the path of a "file" record.
#pragma once

#include <cstdio>
#include <string>

namespace applier {

// Reads the u16 unit count and that many UTF-16 units. Units of value 0 are
// consumed but left out; the others are taken as they stand. A count of n
// moves the stream on by 2 + 2n bytes when the package holds them.
// Returns the path, or the empty string when the count is 0, every unit is
// 0, or the package ends before the count or a unit could be read whole.
std::wstring ReadPackagePath(std::FILE* package);

}  // namespace applier
