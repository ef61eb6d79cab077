// Judging package paths before anything is created for them. Pure and
// portable, so the Windows rules are checked on every host.
#include "applier/contained_path.h"

namespace applier {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

wchar_t AsciiUpper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

// COM and LPT ports take the digits 1-9 and the superscripts 1-3.
bool IsPortDigit(wchar_t c) {
  return (c >= L'1' && c <= L'9') || c == L'\u00B9' || c == L'\u00B2' || c == L'\u00B3';
}

bool IsReservedDeviceName(const std::wstring& component) {
  // Windows opens the device whatever extension follows ("nul.txt") and
  // ignores spaces before the dot ("nul .txt").
  std::wstring base = component.substr(0, component.find(L'.'));
  while (!base.empty() && base.back() == L' ') base.pop_back();
  for (wchar_t& c : base) c = AsciiUpper(c);
  if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL" || base == L"CONIN$" ||
      base == L"CONOUT$") {
    return true;
  }
  return base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
         IsPortDigit(base[3]);
}

// An empty component would make the joined path rooted, a doubled
// separator or a name that ends in a separator; none is a file below the
// install directory.
bool IsSafeComponent(const std::wstring& component) {
  return !component.empty() && component != L".." && component.back() != L'.' && component.back() != L' ' &&
         !IsReservedDeviceName(component);
}

}  // namespace

bool IsContainedPackagePath(const std::wstring& packagePath) {
  if (packagePath.find(L':') != std::wstring::npos) return false;
  std::size_t start =
      packagePath.size() >= 2 && packagePath[0] == L'.' && IsSeparator(packagePath[1]) ? 2 : 0;
  // A separator here makes the rest rooted ("\x") or UNC ("\\server").
  if (start < packagePath.size() && IsSeparator(packagePath[start])) return false;
  for (;;) {
    std::size_t end = start;
    while (end < packagePath.size() && !IsSeparator(packagePath[end])) ++end;
    if (!IsSafeComponent(packagePath.substr(start, end - start))) return false;
    if (end == packagePath.size()) return true;
    start = end + 1;
  }
}

}  // namespace applier
