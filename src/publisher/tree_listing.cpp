// The walk of a release's folder with pack mode's rules for names, path
// lengths and links.
#include "publisher/tree_listing.h"

#include <algorithm>
#include <optional>

#include "packer/packable_name.h"
#include "platform/platform.h"

namespace publisher {
namespace {

class Lister {
 public:
  explicit Lister(const std::wstring& root) : root_(root) {}

  // Lists `directory`, whose identity is `identity` when known, and
  // everything below it into the listing.
  void Walk(const std::wstring& directory, std::optional<platform::FileIdentity> identity);

  TreeListing listing;

 private:
  void LeaveOut(const std::wstring& path, const wchar_t* reason) {
    listing.leftOut.push_back(platform::DisplayPath(path) + L": " + reason);
  }

  const std::wstring root_;
  // The folders from the root down to the one being listed: a link back to
  // one of them would list the same files again, to the path limit.
  std::vector<platform::FileIdentity> walkPath_;
};

void Lister::Walk(const std::wstring& directory, std::optional<platform::FileIdentity> identity) {
  std::wstring pattern = directory;
  if (!platform::JoinPath(pattern, L"*")) {
    LeaveOut(directory + L"\\*", L"path too long");
    return;
  }
  platform::DirectoryListing entries(pattern);
  if (!entries.IsOpen()) return;
  if (identity) walkPath_.push_back(*identity);
  do {
    const platform::DirectoryEntry& entry = entries.Current();
    if (entry.isDirectory && (entry.name == L"." || entry.name == L"..")) continue;
    if (!packer::IsPackableName(entry.name)) {
      LeaveOut(directory + L"\\" + entry.name, L"name not allowed in a package");
      continue;
    }
    std::wstring path = directory;
    if (!platform::JoinPath(path, entry.name)) {
      LeaveOut(directory + L"\\" + entry.name, L"path too long");
      continue;
    }
    const std::optional<platform::FileIdentity> entryIdentity =
        entry.isDirectory ? platform::IdentityOf(path) : std::nullopt;
    if (entryIdentity && std::find(walkPath_.begin(), walkPath_.end(), *entryIdentity) != walkPath_.end()) {
      LeaveOut(path, L"a link to a folder already on the walk path");
      continue;
    }
    const std::wstring packagePath = platform::RelativePath(root_, path);
    if (packagePath.empty()) {
      LeaveOut(path, L"not below the listed folder");
      continue;
    }
    listing.entries.push_back(TreeEntry{packagePath, entry.isDirectory});
    if (entry.isDirectory) Walk(path, entryIdentity);
  } while (entries.Next());
  if (identity) walkPath_.pop_back();
}

}  // namespace

TreeListing ListTree(const std::wstring& root) {
  Lister lister(root);
  lister.Walk(root, platform::IdentityOf(root));
  return lister.listing;
}

}  // namespace publisher
