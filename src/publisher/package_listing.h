// The listing of a patch's package: what apply mode would write, record by
// record.
#pragma once

#include <ostream>
#include <string>

namespace publisher {

// Writes one line per record of the patch's package to `out`, in package
// order, with tabs between the fields: the path as stored, the size
// inflated, the size of its zlib stream, the last-write time (UTC, ISO
// 8601). A last line gives the totals: "N files", size, compressed size.
// On a fault the records read before it are listed, the totals are not,
// and the fault is named on `err`. Returns true when the whole package was
// read.
bool ListPackage(const std::wstring& patchPath, std::ostream& out, std::ostream& err);

}  // namespace publisher
