// Judging package paths before anything is created for them. Pure and
// portable, so the Windows rules are checked on every host.
#include "applier/contained_path.h"

#include "package/path_component.h"

namespace applier {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

bool IsContainedPackagePath(const std::wstring& packagePath) {
  std::size_t start =
      packagePath.size() >= 2 && packagePath[0] == L'.' && IsSeparator(packagePath[1]) ? 2 : 0;
  // A separator here makes the rest rooted ("\x") or UNC ("\\server").
  if (start < packagePath.size() && IsSeparator(packagePath[start])) return false;
  for (;;) {
    std::size_t end = start;
    while (end < packagePath.size() && !IsSeparator(packagePath[end])) ++end;
    if (!package::IsAllowedPathComponent(packagePath.substr(start, end - start))) return false;
    if (end == packagePath.size()) return true;
    start = end + 1;
  }
}

}  // namespace applier
