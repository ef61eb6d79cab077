// The lock file on POSIX: flock() on a file that is removed on release.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/native_path.h"

namespace platform {
namespace {

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace

FileLock::~FileLock() { Release(); }

bool FileLock::Take(const std::wstring& path) {
  if (Held()) return false;
  const std::string nativePath = posix::ToNativePath(path);
  // O_NOFOLLOW: a link of that name would lock, and later remove, another
  // file.
  const int descriptor = open(nativePath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (descriptor < 0) return false;
  // The holder removes the file before it releases the lock, so a lock won
  // on a file that no longer has the name was won after the holder ended,
  // on a file that a third run may have replaced: it counts as taken only
  // when the name still leads to the locked file.
  struct stat locked;
  struct stat named;
  if (flock(descriptor, LOCK_EX | LOCK_NB) != 0 || fstat(descriptor, &locked) != 0 ||
      lstat(nativePath.c_str(), &named) != 0 || !SameFile(locked, named)) {
    close(descriptor);
    return false;
  }
  handle_ = descriptor;
  path_ = path;
  return true;
}

void FileLock::Release() {
  if (!Held()) return;
  unlink(posix::ToNativePath(path_).c_str());
  close(static_cast<int>(handle_));
  handle_ = kNoHandle;
  path_.clear();
}

}  // namespace platform
