// Stdio streams, file replacement and file times on POSIX.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/failing_moves.h"
#include "platform/platform.h"
#include "platform/posix/native_path.h"
#include "platform/retry.h"

namespace platform {
namespace {

// Seconds from 1601-01-01 to 1970-01-01, and 100 ns ticks per second.
constexpr std::int64_t kEpochDifferenceSeconds = 11644473600;
constexpr std::int64_t kTicksPerSecond = 10000000;

FileTime ToFileTime(std::int64_t seconds, std::int64_t nanoseconds) {
  return static_cast<FileTime>((seconds + kEpochDifferenceSeconds) * kTicksPerSecond + nanoseconds / 100);
}

struct timespec ToTimespec(FileTime time) {
  // Divided while unsigned: a package may carry any 64-bit value, and one
  // with the top bit set would overflow a signed subtraction. The epoch
  // difference is whole seconds, so the remainder needs no adjusting.
  const FileTime ticksPerSecond = static_cast<FileTime>(kTicksPerSecond);
  struct timespec spec;
  spec.tv_sec = static_cast<time_t>(static_cast<std::int64_t>(time / ticksPerSecond) - kEpochDifferenceSeconds);
  spec.tv_nsec = static_cast<long>(time % ticksPerSecond * 100);
  return spec;
}

}  // namespace

// Reading opens only regular files, as on Windows, where a folder holds
// nothing else: a named pipe would wait for a writer that never comes, and a
// device such as /dev/zero never ends. O_NONBLOCK keeps the open itself from
// waiting on a pipe; it is cleared again before any read.
std::FILE* OpenFile(const std::wstring& path, const char* mode) {
  const std::string nativePath = posix::ToNativePath(path);
  if (mode[0] != 'r' || std::strchr(mode, '+') != nullptr) {
    std::FILE* stream = nullptr;
    RetryTransient([&] { return Outcome((stream = std::fopen(nativePath.c_str(), mode)) != nullptr); });
    return stream;
  }
  int descriptor = -1;
  RetryTransient([&] { return Outcome((descriptor = open(nativePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) >= 0); });
  if (descriptor < 0) return nullptr;
  struct stat info;
  std::FILE* stream = nullptr;
  if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
    errno = EINVAL;
  } else if (fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) & ~O_NONBLOCK) == 0) {
    stream = fdopen(descriptor, mode);
  }
  if (stream == nullptr) close(descriptor);
  return stream;
}

bool TruncateFile(std::FILE* stream, std::uint64_t size) {
  return std::fflush(stream) == 0 && ftruncate(fileno(stream), static_cast<off_t>(size)) == 0;
}

bool MoveOverFile(const std::wstring& from, const std::wstring& to) {
  if (MoveIsMadeToFail()) return false;
  if (OccupantOf(to) == Occupant::kInTheWay) return false;
  const std::string nativeFrom = posix::ToNativePath(from);
  const std::string nativeTo = posix::ToNativePath(to);
  return RetryTransient([&] { return Outcome(std::rename(nativeFrom.c_str(), nativeTo.c_str()) == 0); });
}

bool LinkFile(const std::wstring& existing, const std::wstring& link) {
  const std::string nativeExisting = posix::ToNativePath(existing);
  const std::string nativeLink = posix::ToNativePath(link);
  // linkat without AT_SYMLINK_FOLLOW links a symbolic link itself; link()
  // follows it on some systems.
  return RetryTransient([&] {
    return Outcome(linkat(AT_FDCWD, nativeExisting.c_str(), AT_FDCWD, nativeLink.c_str(), 0) == 0);
  });
}

bool RemoveFile(const std::wstring& path) {
  const std::string nativePath = posix::ToNativePath(path);
  return RetryTransient([&] { return Outcome(unlink(nativePath.c_str()) == 0); });
}

bool RemoveEmptyDirectory(const std::wstring& path) {
  const std::string nativePath = posix::ToNativePath(path);
  return RetryTransient([&] { return Outcome(rmdir(nativePath.c_str()) == 0); });
}

Occupant OccupantOf(const std::wstring& path) {
  const std::string nativePath = posix::ToNativePath(path);
  struct stat info;
  // lstat: a dangling symbolic link is a name that the move replaces too.
  if (lstat(nativePath.c_str(), &info) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? Occupant::kNothing : Occupant::kInTheWay;
  }
  if (S_ISLNK(info.st_mode) && stat(nativePath.c_str(), &info) != 0) return Occupant::kReplaceable;
  // rename() would quietly replace an empty directory or a file that no one
  // may write; Windows replaces neither. Nothing here holds files open
  // against replacement.
  if (S_ISDIR(info.st_mode) || (info.st_mode & 0222) == 0) return Occupant::kInTheWay;
  return Occupant::kReplaceable;
}

bool ReadFileTimes(const std::wstring& path, FileTimes& times) {
  struct statx info;
  if (statx(AT_FDCWD, posix::ToNativePath(path).c_str(), 0,
            STATX_ATIME | STATX_MTIME | STATX_BTIME, &info) != 0) {
    return false;
  }
  times.lastAccess = ToFileTime(info.stx_atime.tv_sec, info.stx_atime.tv_nsec);
  times.lastWrite = ToFileTime(info.stx_mtime.tv_sec, info.stx_mtime.tv_nsec);
  // Not every file system keeps a birth time; the last write stands in.
  times.creation = (info.stx_mask & STATX_BTIME) ? ToFileTime(info.stx_btime.tv_sec, info.stx_btime.tv_nsec)
                                                 : times.lastWrite;
  return true;
}

bool WriteFileTimes(const std::wstring& path, const FileTimes& times) {
  // Linux has no call that sets a creation time; the other two are set.
  const struct timespec both[2] = {ToTimespec(times.lastAccess), ToTimespec(times.lastWrite)};
  const std::string nativePath = posix::ToNativePath(path);
  return RetryTransient(
      [&] { return Outcome(utimensat(AT_FDCWD, nativePath.c_str(), both, AT_SYMLINK_NOFOLLOW) == 0); });
}

}  // namespace platform
