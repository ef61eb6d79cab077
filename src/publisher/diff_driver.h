// --diff OLD NEW PATCH: the update patch that turns one release's folder
// into the next one's.
#pragma once

#include <ostream>
#include <string>

namespace publisher {

// Compares the folders `oldRoot` and `newRoot`, listed as pack mode walks
// "src" (see PlanDiff for what the patch does), and appends to `target` one
// package: a "file" record for every new file, a delta record (or a "file"
// record where that is not smaller) for every changed file, a removal
// record for every removed file; then the trailer. `workers` threads build
// the records side by side; the package's bytes do not depend on how many.
// Writes one line of totals to `out`. Returns kExitSuccess;
// kExitPatchLacksFiles when some entries were left out, each named on
// `err`; kExitFailure, with the reason on `err` and the target as it was,
// when OLD or NEW is no folder, a name is a file in one release and a
// folder in the other, the target cannot be opened, or the package cannot
// be written whole (the target is then cut back to its old size).
int RunDiff(const std::wstring& oldRoot, const std::wstring& newRoot, const std::wstring& target, unsigned workers,
            std::ostream& out, std::ostream& err);

}  // namespace publisher
