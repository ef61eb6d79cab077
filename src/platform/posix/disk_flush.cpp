// Flushing many files and folders at once on POSIX: syncfs() once for each
// file system that holds one of them, instead of an fsync() per file, each
// of which would wait for its own journal commit.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/native_path.h"
#include "platform/retry.h"

namespace platform {

DiskFlush::~DiskFlush() {
  for (const Volume& volume : volumes_) close(volume.handle);
}

void DiskFlush::AddFile(const std::wstring& path) { AddFolder(path); }

void DiskFlush::AddFolder(const std::wstring& path) {
  const std::string nativePath = posix::ToNativePath(path);
  struct stat info;
  if (stat(nativePath.c_str(), &info) != 0) {
    failed_ = true;
    return;
  }
  const auto id = static_cast<std::uint64_t>(info.st_dev);
  for (const Volume& volume : volumes_) {
    if (volume.id == id) return;
  }
  int handle = -1;
  RetryTransient([&] { return Outcome((handle = open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) >= 0); });
  if (handle < 0) {
    failed_ = true;
    return;
  }
  volumes_.push_back(Volume{id, handle});
}

bool DiskFlush::Finish() {
  // syncfs writes out every file and name of the file system and, since
  // Linux 5.8, reports a write that failed since the descriptor was opened.
  for (const Volume& volume : volumes_) {
    if (syncfs(volume.handle) != 0) failed_ = true;
  }
  return !failed_;
}

}  // namespace platform
