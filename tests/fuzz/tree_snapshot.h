// A picture of a directory tree, taken before and after each record, so that
// the fuzz target can tell what a record changed.
#pragma once

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fuzz {

struct TreeSnapshot {
  std::map<std::string, std::string> files;  // generic path relative to the root -> content
  std::set<std::string> directories;         // generic paths relative to the root
  std::vector<std::string> others;           // anything else (links, pipes): never made by the applier
};

// Every entry below `root`, links not followed.
TreeSnapshot SnapshotTree(const std::filesystem::path& root);

// The files of `after` that `before` lacks or that hold other content.
std::vector<std::string> AddedOrChangedFiles(const TreeSnapshot& before, const TreeSnapshot& after);

// The files and directories of `before` that `after` lacks.
std::vector<std::string> RemovedEntries(const TreeSnapshot& before, const TreeSnapshot& after);

// The names in `paths`, joined with ", " for a message.
std::string ListPaths(const std::vector<std::string>& paths);

}  // namespace fuzz
