// The rule for names that a package path may hold, as the packer meets them.
#include "packer/packable_name.h"

#include "package/path_component.h"

namespace packer {

bool IsPackableName(const std::wstring& name) { return package::IsAllowedPathComponent(name); }

}  // namespace packer
