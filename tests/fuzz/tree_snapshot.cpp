// Taking and comparing pictures of the install tree.
#include "tree_snapshot.h"

#include <fstream>
#include <iterator>

namespace fuzz {

TreeSnapshot SnapshotTree(const std::filesystem::path& root) {
  TreeSnapshot snapshot;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string relative = entry.path().lexically_relative(root).generic_string();
    if (entry.is_symlink() || !(entry.is_regular_file() || entry.is_directory())) {
      snapshot.others.push_back(relative);
    } else if (entry.is_directory()) {
      snapshot.directories.insert(relative);
    } else {
      std::ifstream file(entry.path(), std::ios::binary);
      snapshot.files[relative].assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
  }
  return snapshot;
}

std::vector<std::string> AddedOrChangedFiles(const TreeSnapshot& before, const TreeSnapshot& after) {
  std::vector<std::string> paths;
  for (const auto& [path, content] : after.files) {
    const auto old = before.files.find(path);
    if (old == before.files.end() || old->second != content) paths.push_back(path);
  }
  return paths;
}

std::vector<std::string> RemovedEntries(const TreeSnapshot& before, const TreeSnapshot& after) {
  std::vector<std::string> paths;
  for (const auto& [path, content] : before.files) {
    if (after.files.count(path) == 0) paths.push_back(path);
  }
  for (const std::string& path : before.directories) {
    if (after.directories.count(path) == 0) paths.push_back(path + "/");
  }
  return paths;
}

std::string ListPaths(const std::vector<std::string>& paths) {
  std::string list;
  for (const std::string& path : paths) list += (list.empty() ? "" : ", ") + path;
  return list;
}

}  // namespace fuzz
