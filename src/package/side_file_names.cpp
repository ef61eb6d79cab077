// Recognising the names of apply mode's own side files.
#include "package/side_file_names.h"

#include <cwchar>

namespace package {
namespace {

wchar_t AsciiLower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool EndsWith(const std::wstring& name, const wchar_t* suffix) {
  const std::size_t length = std::wcslen(suffix);
  if (name.size() < length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (AsciiLower(name[name.size() - length + i]) != suffix[i]) return false;
  }
  return true;
}

}  // namespace

bool IsSideFileName(const std::wstring& name) {
  // Without the numbered ending, if there is one.
  std::size_t end = name.size();
  while (end > 0 && name[end - 1] >= L'0' && name[end - 1] <= L'9') --end;
  const std::wstring base = end < name.size() && end > 0 && name[end - 1] == L'-' ? name.substr(0, end - 1) : name;
  return EndsWith(base, kPartialSuffix) || EndsWith(base, kBackupSuffix) || EndsWith(base, kLockFileName);
}

}  // namespace package
