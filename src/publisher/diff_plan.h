// The plan of a patch that turns one release's folder into the next one's:
// which files it carries, replaces, removes, and which folders it removes.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "publisher/tree_listing.h"

namespace publisher {

enum class StepKind {
  kNewFile,        // only in the new release: carried whole
  kChangedFile,    // in both, with other content: a delta against the old one
  kRemovedFile,    // only in the old release
  kRemovedFolder,  // a folder of the old release that the removals leave empty
};

struct DiffStep {
  StepKind kind;
  std::wstring path;     // the package path: the new release's name, or the old one's for a removal
  std::wstring oldPath;  // the old release's name of a changed file, which may differ in letter case
};

// A name that is a file in one release and a folder in the other, which
// one package cannot turn into each other: the old release's path and the
// new one's.
struct DiffConflict {
  enum Kind { kNone, kFileAndFolder } kind = kNone;
  std::wstring oldPath;
  std::wstring newPath;
};

struct DiffPlan {
  std::vector<DiffStep> steps;
  DiffConflict conflict;  // when set, `steps` is empty
};

// Tells whether the file at `oldPath` in the old release has the same
// content (size and bytes) as the file at `newPath` in the new one.
using SameContent = std::function<bool(const std::wstring& oldPath, const std::wstring& newPath)>;

// Compares the listings of the old and the new release. Paths are matched
// as Windows matches names, ignoring letter case: a file renamed only in
// case is one file, changed (under its new name) or left out like any
// other, since Windows would find the old one under the new name, and a
// removal of the old name would meet the new file. A path that is a file
// in one release and a folder in the other is a conflict.
// Otherwise the steps come in this order, each group in a fixed order:
// - new files, in the new release's walk order;
// - changed files (in both, `sameContent` false), in the same order; files
//   for which `sameContent` is true are left out;
// - removed files, in the old release's walk order;
// - removed folders: every folder of the old release that holds nothing
//   once the removals are done, though it held a removed file, and in which
//   the new release has no file (a folder empty already is left as it is,
//   and a package carries no empty folders); each comes after everything
//   inside it. The applier removes exactly these: the folders its removals
//   leave empty.
// `sameContent` is asked only about files in both releases.
DiffPlan PlanDiff(const std::vector<TreeEntry>& oldTree, const std::vector<TreeEntry>& newTree,
                  const SameContent& sameContent);

}  // namespace publisher
