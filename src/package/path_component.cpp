// The rule for one component of a package path.
#include "package/path_component.h"

#include <cwchar>

#include "package/device_names.h"
#include "package/side_file_names.h"

namespace package {
namespace {

bool IsForbiddenUnit(wchar_t unit) { return unit < 0x20 || std::wcschr(L"<>:\"|?*\\/", unit) != nullptr; }

bool IsHighSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(wchar_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// True when every surrogate in `name` stands in a pair, high before low.
bool SurrogatesArePaired(const std::wstring& name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (IsLowSurrogate(name[i])) return false;
    if (IsHighSurrogate(name[i])) {
      if (i + 1 == name.size() || !IsLowSurrogate(name[i + 1])) return false;
      ++i;
    }
  }
  return true;
}

}  // namespace

bool IsAllowedPathComponent(const std::wstring& name) {
  if (name.empty() || name.back() == L'.' || name.back() == L' ') return false;
  for (const wchar_t unit : name) {
    if (IsForbiddenUnit(unit)) return false;
  }
  return SurrogatesArePaired(name) && !IsReservedDeviceName(name) && !IsSideFileName(name);
}

}  // namespace package
