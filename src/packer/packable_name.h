// Which directory entry names can stand as a component of a package path.
#pragma once

#include <string>

namespace packer {

// True when `name` can be one component of a package path and names the
// same file when the package is applied on Windows. False for:
// - an empty name;
// - a name holding "\" or "/", which the package could not tell from a
//   separator;
// - a name holding a unit below 0x20 or one of < > : " | ? *, which
//   Windows does not allow in a file name;
// - a name ending in "." or " ", which Windows drops when it opens a path,
//   so that another file would be read or written;
// - a device name (package::IsReservedDeviceName), which Windows opens as
//   the device, and which the applier therefore refuses;
// - a name of the update's own side files (package::IsSideFileName), such
//   as a leftover of an interrupted update, which the applier refuses too.
// Such names can only come from other systems, or from files made through
// the "\\?\" prefix.
bool IsPackableName(const std::wstring& name);

}  // namespace packer
