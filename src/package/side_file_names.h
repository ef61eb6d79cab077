// The names that apply mode gives the files it keeps beside a destination
// while it updates it: the partial file that a record is inflated into and
// the second name that keeps the old file for an undo. No package may name
// such a file, or one record could overwrite what another's undo needs.
#pragma once

#include <string>

namespace package {

constexpr wchar_t kPartialSuffix[] = L".quorvane-partial";
constexpr wchar_t kBackupSuffix[] = L".quorvane-backup";

// True when `name` ends in one of the two suffixes, in any letter case (as
// Windows compares names), alone or followed by "-" and digits.
bool IsSideFileName(const std::wstring& name);

}  // namespace package
