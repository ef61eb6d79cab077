// Directory listing on POSIX, delivering entries as FindFirstFileW does:
// every name, "." and ".." included, with links followed for the
// directory bit, and in the order NTFS lists a folder. The order of
// readdir differs between file systems and between copies of one tree;
// sorted, one tree gives one package on every machine, and the same one
// that the Windows program gives on NTFS.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

#include "platform/ntfs_name_order.h"
#include "platform/platform.h"
#include "platform/posix/native_path.h"

namespace platform {
namespace {

// The whole listing, read at once and sorted; delivered from the back.
struct SortedEntries {
  std::vector<DirectoryEntry> entries;
};

// The listed directory of a pattern "dir\*"; a pattern without the
// trailing "*" names no listing.
bool DirectoryOfPattern(const std::wstring& pattern, std::string& directory) {
  if (pattern.empty() || pattern.back() != L'*') return false;
  directory = posix::ToNativePath(pattern.substr(0, pattern.size() - 1));
  if (directory.empty()) directory = "./";
  return true;
}

// One entry of `directory` (a native path ending in "/").
DirectoryEntry EntryOf(const std::string& directory, const dirent& entry) {
  DirectoryEntry result;
  if (entry.d_type == DT_DIR || entry.d_type == DT_REG) {
    result.isDirectory = entry.d_type == DT_DIR;
  } else {
    // stat() follows links, so a link to a directory lists as a directory;
    // a dangling link lists as a file, which then cannot be read.
    struct stat info;
    result.isDirectory = stat((directory + entry.d_name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  }
  result.name = posix::FromUtf8(entry.d_name);
  return result;
}

}  // namespace

DirectoryListing::DirectoryListing(const std::wstring& pattern) {
  std::string directory;
  if (!DirectoryOfPattern(pattern, directory)) return;
  DIR* stream = opendir(directory.c_str());
  if (stream == nullptr) return;
  auto* sorted = new SortedEntries;
  while (const dirent* entry = readdir(stream)) sorted->entries.push_back(EntryOf(directory, *entry));
  closedir(stream);
  // Sorted last to first, so that each entry can be taken off the back.
  std::sort(sorted->entries.begin(), sorted->entries.end(),
            [](const DirectoryEntry& a, const DirectoryEntry& b) { return NtfsNameLess(b.name, a.name); });
  handle_ = sorted;
  if (!Next()) {
    delete sorted;
    handle_ = nullptr;
  }
}

DirectoryListing::~DirectoryListing() { delete static_cast<SortedEntries*>(handle_); }

bool DirectoryListing::IsOpen() const { return handle_ != nullptr; }

bool DirectoryListing::Next() {
  if (handle_ == nullptr) return false;
  auto* sorted = static_cast<SortedEntries*>(handle_);
  if (sorted->entries.empty()) return false;
  current_ = std::move(sorted->entries.back());
  sorted->entries.pop_back();
  return true;
}

}  // namespace platform
