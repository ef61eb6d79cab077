// Matching two releases' listings path by path, and the folders that the
// removals leave empty.
#include "publisher/diff_plan.h"

#include <unordered_map>
#include <unordered_set>

#include "platform/ntfs_name_order.h"

namespace publisher {
namespace {

// A path as Windows compares names: letter case ignored, by the same
// upper-casing that orders the listing.
std::wstring FoldCase(const std::wstring& path) {
  std::wstring folded = path;
  for (wchar_t& unit : folded) unit = platform::NtfsUpcase(unit);
  return folded;
}

// The folder that holds `path`; "." for an entry directly below the root.
std::wstring ParentOf(const std::wstring& path) {
  const std::size_t separator = path.rfind(L'\\');
  return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

// A release's entries by folded path.
class IndexedTree {
 public:
  explicit IndexedTree(const std::vector<TreeEntry>& entries) {
    for (const TreeEntry& entry : entries) byKey_.emplace(FoldCase(entry.path), &entry);
  }
  // The entry Windows would take for `path`, or null.
  const TreeEntry* Find(const std::wstring& path) const {
    const auto found = byKey_.find(FoldCase(path));
    return found == byKey_.end() ? nullptr : found->second;
  }

 private:
  std::unordered_map<std::wstring, const TreeEntry*> byKey_;
};

// The first entry of the new release that is a file in one release and a
// folder in the other.
DiffConflict FindConflict(const IndexedTree& oldIndex, const std::vector<TreeEntry>& newTree) {
  for (const TreeEntry& entry : newTree) {
    const TreeEntry* old = oldIndex.Find(entry.path);
    if (old != nullptr && old->isDirectory != entry.isDirectory) {
      return DiffConflict{DiffConflict::kFileAndFolder, old->path, entry.path};
    }
  }
  return DiffConflict{};
}

// What a folder of the old release holds once the removals are done.
struct FolderFate {
  bool keepsSomething = false;  // a file or folder that stays
  bool lostSomething = false;   // a removed file, or a removed folder
};

// The folders that hold a file of the new release, folded, root excluded.
std::unordered_set<std::wstring> FoldersHoldingFiles(const std::vector<TreeEntry>& newTree) {
  std::unordered_set<std::wstring> folders;
  for (const TreeEntry& entry : newTree) {
    if (entry.isDirectory) continue;
    for (std::wstring folder = ParentOf(entry.path); folder.size() > 1; folder = ParentOf(folder)) {
      if (!folders.insert(FoldCase(folder)).second) break;  // its folders are in already
    }
  }
  return folders;
}

// The folders of the old release that the removals leave empty, each after
// its contents: the old listing gone through backwards meets every entry
// before its folder. A package carries no folders, so a folder that the new
// release has only empty is no reason to keep one.
std::vector<DiffStep> FoldersLeftEmpty(const std::vector<TreeEntry>& oldTree, const IndexedTree& newIndex,
                                       const std::vector<TreeEntry>& newTree) {
  const std::unordered_set<std::wstring> newFolders = FoldersHoldingFiles(newTree);
  std::vector<DiffStep> removed;
  std::unordered_map<std::wstring, FolderFate> fates;
  for (auto entry = oldTree.rbegin(); entry != oldTree.rend(); ++entry) {
    bool gone = false;
    if (entry->isDirectory) {
      const FolderFate fate = fates[entry->path];
      gone = newFolders.count(FoldCase(entry->path)) == 0 && fate.lostSomething && !fate.keepsSomething;
      if (gone) removed.push_back(DiffStep{StepKind::kRemovedFolder, entry->path, entry->path});
    } else {
      gone = newIndex.Find(entry->path) == nullptr;
    }
    FolderFate& parent = fates[ParentOf(entry->path)];
    (gone ? parent.lostSomething : parent.keepsSomething) = true;
  }
  return removed;
}

}  // namespace

DiffPlan PlanDiff(const std::vector<TreeEntry>& oldTree, const std::vector<TreeEntry>& newTree,
                  const SameContent& sameContent) {
  DiffPlan plan;
  const IndexedTree oldIndex(oldTree);
  const IndexedTree newIndex(newTree);
  plan.conflict = FindConflict(oldIndex, newTree);
  if (plan.conflict.kind != DiffConflict::kNone) return plan;

  std::vector<DiffStep> changed;
  for (const TreeEntry& entry : newTree) {
    if (entry.isDirectory) continue;
    const TreeEntry* old = oldIndex.Find(entry.path);
    if (old == nullptr) {
      plan.steps.push_back(DiffStep{StepKind::kNewFile, entry.path, std::wstring()});
    } else if (!sameContent(old->path, entry.path)) {
      changed.push_back(DiffStep{StepKind::kChangedFile, entry.path, old->path});
    }
  }
  plan.steps.insert(plan.steps.end(), changed.begin(), changed.end());
  for (const TreeEntry& entry : oldTree) {
    if (!entry.isDirectory && newIndex.Find(entry.path) == nullptr) {
      plan.steps.push_back(DiffStep{StepKind::kRemovedFile, entry.path, entry.path});
    }
  }
  const std::vector<DiffStep> folders = FoldersLeftEmpty(oldTree, newIndex, newTree);
  plan.steps.insert(plan.steps.end(), folders.begin(), folders.end());
  return plan;
}

}  // namespace publisher
