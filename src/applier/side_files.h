// The names of the files that an update keeps beside a destination: the
// partial file that a record is inflated into, and the old file's second
// name that an undo moves back. Both end in a suffix of the program's own
// (package/side_file_names.h), so that leftovers of an interrupted update
// are recognisable and no package can name them.
#pragma once

#include <string>

namespace applier {

enum class SideFile { kPartial, kBackup };

// A name is tried with "-1" up to "-99" after the suffix when the plain
// one is taken (a leftover, or a file of the game's that happens to be so
// named), so that leftovers never block a later update.
constexpr unsigned kSideNameAttempts = 100;

// "<destination>.quorvane-partial" or "<destination>.quorvane-backup", with
// "-<attempt>" after it for attempts above 0.
std::wstring SideFileName(const std::wstring& destination, SideFile kind, unsigned attempt);

// True when every side name of `destination` fits in kMaxPath units, and
// each name on its way, the side file's own among them, in the longest name
// that Windows' file systems hold. (Linux holds 255 bytes, fewer units for
// names beyond ASCII: there the system refuses the partial file, and the
// update fails whole.)
bool SideFileNamesFit(const std::wstring& destination);

}  // namespace applier
