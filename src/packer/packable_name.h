// Which directory entry names can stand as a component of a package path.
#pragma once

#include <string>

namespace packer {

// True when `name` can be one component of a package path: the rule that
// the applier applies to every component (package::IsAllowedPathComponent),
// so that the packer never writes a record that apply mode would refuse.
// Names that break it can only come from other systems, or from files
// made through the "\\?\" prefix.
bool IsPackableName(const std::wstring& name);

}  // namespace packer
