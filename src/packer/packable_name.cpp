// The rules for names that a package path may hold.
#include "packer/packable_name.h"

#include <cwchar>

#include "package/device_names.h"
#include "package/side_file_names.h"

namespace packer {
namespace {

bool IsForbiddenUnit(wchar_t unit) {
  return unit < 0x20 || std::wcschr(L"<>:\"|?*\\/", unit) != nullptr;
}

}  // namespace

bool IsPackableName(const std::wstring& name) {
  if (name.empty() || name.back() == L'.' || name.back() == L' ') return false;
  for (const wchar_t unit : name) {
    if (IsForbiddenUnit(unit)) return false;
  }
  return !package::IsReservedDeviceName(name) && !package::IsSideFileName(name);
}

}  // namespace packer
