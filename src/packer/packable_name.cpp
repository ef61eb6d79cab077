// The rules for names that a package path may hold.
#include "packer/packable_name.h"

#include <cwchar>
#include <cwctype>

namespace packer {
namespace {

bool IsForbiddenUnit(wchar_t unit) {
  return unit < 0x20 || std::wcschr(L"<>:\"|?*\\/", unit) != nullptr;
}

bool IsDeviceName(const std::wstring& name) {
  std::wstring base = name.substr(0, name.find(L'.'));
  for (wchar_t& unit : base) unit = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(unit)));
  if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL") return true;
  return base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
         base[3] >= L'1' && base[3] <= L'9';
}

}  // namespace

bool IsPackableName(const std::wstring& name) {
  if (name.empty() || name.back() == L'.' || name.back() == L' ') return false;
  for (const wchar_t unit : name) {
    if (IsForbiddenUnit(unit)) return false;
  }
  return !IsDeviceName(name);
}

}  // namespace packer
