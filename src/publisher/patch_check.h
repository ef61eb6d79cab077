// --check PATCH GAME: whether a patch would apply to one game folder, found
// by the checks the update itself makes, with nothing in the folder changed.
#pragma once

#include <ostream>
#include <string>

namespace publisher {

// Reads every record of the patch's package with apply mode's reader and
// checks it against the folder `gamePath` as the update would before it
// stages anything: the path, the destination, and for a delta or a removal
// the old file's size and CRC-32; a delta is also rebuilt, to nowhere, and
// its result's CRC-32 compared. Writes one line to `out` and returns true
// when the patch would apply; otherwise names the first record that would
// fail and why on `err` and returns false. Writes nothing in the folder.
bool CheckPatch(const std::wstring& patchPath, const std::wstring& gamePath, std::ostream& out, std::ostream& err);

}  // namespace publisher
