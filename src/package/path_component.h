// The one rule for a component of a package path, shared by the packer,
// which leaves out files whose names break it, and the applier and the
// verifier, which refuse paths that hold such a component.
#pragma once

#include <cstddef>
#include <string>

namespace package {

// Longest file or folder name that Windows' file systems hold, in UTF-16
// units.
constexpr std::size_t kMaxComponentUnits = 255;

// True when `name` can be one component of a package path and names the
// same file when the package is applied on Windows. False for:
// - an empty name;
// - a name holding "\" or "/", which a path could not tell from a separator;
// - a name holding a unit below 0x20 or one of < > : " | ? *, which Windows
//   does not allow in a file name (":" would also name a drive or an
//   alternate data stream);
// - a name holding half of a surrogate pair without the other half, which
//   no file system outside Windows can name;
// - a name ending in "." or " ", which Windows drops when it opens a path,
//   so that another file would be read or written ("." and ".." among them);
// - a device name (IsReservedDeviceName), which Windows opens as the device;
// - a name of the update's own side files (IsSideFileName), such as a
//   leftover of an interrupted update, which a record could otherwise
//   overwrite while another record's undo needs it.
bool IsAllowedPathComponent(const std::wstring& name);

}  // namespace package
