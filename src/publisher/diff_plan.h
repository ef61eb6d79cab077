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
  std::wstring path;  // the package path
};

// Why two releases cannot be told apart file by file on Windows, whose
// names ignore letter case: the old release's path and the new one's.
struct DiffConflict {
  enum Kind { kNone, kLetterCase, kFileAndFolder } kind = kNone;
  std::wstring oldPath;
  std::wstring newPath;
};

struct DiffPlan {
  std::vector<DiffStep> steps;
  DiffConflict conflict;  // when set, `steps` is empty
};

// Tells whether the file at a package path has the same content (size and
// bytes) in both releases.
using SameContent = std::function<bool(const std::wstring& packagePath)>;

// Compares the listings of the old and the new release. Paths are matched
// as Windows matches names, ignoring letter case; a path whose case differs
// between the releases, or that is a file in one and a folder in the other,
// is a conflict, since the patch's removals would meet the new files.
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
