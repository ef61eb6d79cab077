// The listing of a release's folder for --diff: every file and folder that
// pack mode would walk, by the same rules, as package paths.
#pragma once

#include <string>
#include <vector>

namespace publisher {

// One file or folder below a listed root, by its package path (".\" and
// the components below the root, joined by "\").
struct TreeEntry {
  std::wstring path;
  bool isDirectory = false;
};

// A listed folder: its entries in the walk's order (depth first, a folder
// before its contents, each folder's entries in the order its listing gives
// them), and the entries the walk left out, each with the reason.
struct TreeListing {
  std::vector<TreeEntry> entries;
  std::vector<std::wstring> leftOut;  // "path: reason", the path as shown to people
};

// Lists everything below `root` as pack mode walks it: "." and ".." passed
// over; names that cannot stand in a package path, paths that would not fit
// in platform::kMaxPath units and links back to a folder already on the walk
// path are left out. A folder that cannot be listed contributes itself and
// nothing else; a root that cannot be listed gives an empty listing.
TreeListing ListTree(const std::wstring& root);

}  // namespace publisher
