// Records that need a file and a folder of one name.
#include "publisher/file_folder_clashes.h"

#include <vector>

namespace publisher {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Windows compares names through its upper-case table; letters beyond
// ASCII are folded by their simple mapping where it is the usual one
// (Latin-1, Greek and Cyrillic), which covers the names games ship.
wchar_t Folded(wchar_t c) {
  if ((c >= L'a' && c <= L'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) ||
      (c >= 0x430 && c <= 0x44F)) {
    return static_cast<wchar_t>(c - 0x20);
  }
  if (c >= 0x450 && c <= 0x45F) return static_cast<wchar_t>(c - 0x50);
  return c;
}

// The path's components, folded, without a leading ".\".
std::vector<std::wstring> FoldedComponents(const std::wstring& path) {
  std::vector<std::wstring> components(1);
  for (const wchar_t c : path) {
    if (IsSeparator(c)) {
      components.emplace_back();
    } else {
      components.back() += Folded(c);
    }
  }
  if (components.size() > 1 && components.front() == L".") components.erase(components.begin());
  return components;
}

}  // namespace

std::optional<FileFolderClashes::Earlier> FileFolderClashes::Add(long offset, const std::wstring& packagePath) {
  const std::vector<std::wstring> components = FoldedComponents(packagePath);
  std::optional<Earlier> clash;
  std::wstring key;
  for (std::size_t i = 0; i + 1 < components.size(); ++i) {
    key += components[i];
    const auto file = files_.find(key);
    if (file != files_.end() && !clash) clash = file->second;
    folders_.emplace(key, Earlier{offset, packagePath});
    key += L'\\';
  }
  key += components.back();
  const auto folder = folders_.find(key);
  if (folder != folders_.end() && !clash) clash = folder->second;
  files_.emplace(key, Earlier{offset, packagePath});
  return clash;
}

}  // namespace publisher
