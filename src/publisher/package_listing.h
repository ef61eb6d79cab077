// The listing of a patch's package: what apply mode would write, record by
// record.
#pragma once

#include <ostream>
#include <string>

namespace publisher {

// Writes one line per record of the patch's package to `out`, in package
// order, with tabs between the fields: the path as stored, the size of the
// file written, the size of its zlib stream, the last-write time (UTC, ISO
// 8601), the kind: "file" for a whole file; "delta" for a file rebuilt from
// its old version, then the old file's size and CRC-32 (8 hex digits);
// "removal" for a file removed, with "-" for size, compressed size and
// time, then the old file's size and CRC-32. A last line gives the totals:
// "N files" (whole and delta), size, compressed size, and "M removals"
// when there are any.
// On a fault the records read before it are listed, the totals are not,
// and the fault is named on `err`. Returns true when the whole package was
// read.
bool ListPackage(const std::wstring& patchPath, std::ostream& out, std::ostream& err);

}  // namespace publisher
