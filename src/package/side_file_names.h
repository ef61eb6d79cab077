// The names that apply mode gives the files it keeps beside a destination
// while it updates it: the partial file that a record is inflated into and
// the second name that keeps the old file for an undo, and the lock file in
// the install directory that keeps two updates of it apart. No package may
// name such a file, or one record could overwrite what another's undo
// needs, or an update could replace the lock that it holds.
#pragma once

#include <string>

namespace package {

constexpr wchar_t kPartialSuffix[] = L".quorvane-partial";
constexpr wchar_t kBackupSuffix[] = L".quorvane-backup";
// The lock file's whole name; it is also refused as a suffix, like the
// other two.
constexpr wchar_t kLockFileName[] = L".quorvane-lock";

// True when `name` ends in one of the three suffixes, in any letter case
// (as Windows compares names), alone or followed by "-" and digits.
bool IsSideFileName(const std::wstring& name);

}  // namespace package
