// Directory listing on POSIX, delivering entries as FindFirstFileW does:
// every name, "." and ".." included, with links followed for the
// directory bit.
#include <dirent.h>
#include <sys/stat.h>

#include "platform/platform.h"
#include "platform/posix/native_path.h"

namespace platform {
namespace {

struct OpenDirectory {
  DIR* stream;
  std::string path;  // native path of the listed directory, ending in "/"
};

// The listed directory of a pattern "dir\*"; a pattern without the
// trailing "*" names no listing.
bool DirectoryOfPattern(const std::wstring& pattern, std::string& directory) {
  if (pattern.empty() || pattern.back() != L'*') return false;
  directory = posix::ToNativePath(pattern.substr(0, pattern.size() - 1));
  if (directory.empty()) directory = "./";
  return true;
}

}  // namespace

DirectoryListing::DirectoryListing(const std::wstring& pattern) {
  std::string directory;
  if (!DirectoryOfPattern(pattern, directory)) return;
  DIR* stream = opendir(directory.c_str());
  if (stream == nullptr) return;
  handle_ = new OpenDirectory{stream, directory};
  if (!Next()) {
    closedir(stream);
    delete static_cast<OpenDirectory*>(handle_);
    handle_ = nullptr;
  }
}

DirectoryListing::~DirectoryListing() {
  if (handle_ == nullptr) return;
  auto* open = static_cast<OpenDirectory*>(handle_);
  closedir(open->stream);
  delete open;
}

bool DirectoryListing::IsOpen() const { return handle_ != nullptr; }

bool DirectoryListing::Next() {
  if (handle_ == nullptr) return false;
  auto* open = static_cast<OpenDirectory*>(handle_);
  const dirent* entry = readdir(open->stream);
  if (entry == nullptr) return false;
  const std::string name = entry->d_name;
  if (entry->d_type == DT_DIR || entry->d_type == DT_REG) {
    current_.isDirectory = entry->d_type == DT_DIR;
  } else {
    // stat() follows links, so a link to a directory lists as a directory;
    // a dangling link lists as a file, which then cannot be read.
    struct stat info;
    current_.isDirectory = stat((open->path + name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  }
  current_.name = posix::FromUtf8(name);
  return true;
}

}  // namespace platform
