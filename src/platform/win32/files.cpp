// Stdio streams, file replacement and file times on Windows.
#include <windows.h>
#include <io.h>
#include <stdio.h>

#include "platform/failing_moves.h"
#include "platform/platform.h"
#include "platform/retry.h"

namespace platform {
namespace {

FILETIME ToFiletime(FileTime time) {
  FILETIME result;
  result.dwLowDateTime = static_cast<DWORD>(time);
  result.dwHighDateTime = static_cast<DWORD>(time >> 32);
  return result;
}

FileTime FromFiletime(const FILETIME& time) {
  return (FileTime{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

}  // namespace

std::FILE* OpenFile(const std::wstring& path, const char* mode) {
  const std::wstring wideMode(mode, mode + strlen(mode));
  std::FILE* stream = nullptr;
  RetryTransient([&] { return Outcome((stream = _wfopen(path.c_str(), wideMode.c_str())) != nullptr); });
  return stream;
}

bool TruncateFile(std::FILE* stream, std::uint64_t size) {
  return fflush(stream) == 0 && _chsize_s(_fileno(stream), static_cast<__int64>(size)) == 0;
}

bool MoveOverFile(const std::wstring& from, const std::wstring& to) {
  if (MoveIsMadeToFail()) return false;
  // Windows refuses to replace a read-only file but Wine replaces it;
  // checking first gives the same result under both.
  const DWORD attributes = GetFileAttributesW(to.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) return false;
  return RetryTransient([&] {
    return Outcome(MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE);
  });
}

bool LinkFile(const std::wstring& existing, const std::wstring& link) {
  // A hard link to a symbolic link or a junction names the link itself.
  if (RetryTransient([&] { return Outcome(CreateHardLinkW(link.c_str(), existing.c_str(), nullptr) != FALSE); })) {
    return true;
  }
  const DWORD error = GetLastError();
  // FAT and exFAT volumes have no hard links: a copy keeps the content.
  if (error != ERROR_INVALID_FUNCTION && error != ERROR_NOT_SUPPORTED) return false;
  FileTimes times;
  return ReadFileTimes(existing, times) && CopyFileW(existing.c_str(), link.c_str(), TRUE) &&
         WriteFileTimes(link, times);
}

bool RemoveFile(const std::wstring& path) {
  return RetryTransient([&] { return Outcome(DeleteFileW(path.c_str()) != FALSE); });
}

bool RemoveEmptyDirectory(const std::wstring& path) {
  return RetryTransient([&] { return Outcome(RemoveDirectoryW(path.c_str()) != FALSE); });
}

Occupant OccupantOf(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Occupant::kNothing
                                                                          : Occupant::kInTheWay;
  }
  if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) return Occupant::kInTheWay;
  // An open for writing and deletion that shares nothing fails while any
  // other program, such as the running game, holds the file open, and for
  // a running program's own image; a scanner's hold passes within the
  // retries. A link is opened itself, never its target.
  HANDLE handle = INVALID_HANDLE_VALUE;
  RetryTransient([&] {
    handle = CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    return Outcome(handle != INVALID_HANDLE_VALUE);
  });
  if (handle == INVALID_HANDLE_VALUE) return Occupant::kInTheWay;
  CloseHandle(handle);
  return Occupant::kReplaceable;
}

bool ReadFileTimes(const std::wstring& path, FileTimes& times) {
  // No access to the content: the times are readable even where the data
  // is not.
  HANDLE handle = INVALID_HANDLE_VALUE;
  RetryTransient([&] {
    handle = CreateFileW(path.c_str(), 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return Outcome(handle != INVALID_HANDLE_VALUE);
  });
  if (handle == INVALID_HANDLE_VALUE) return false;
  FILETIME creation, lastAccess, lastWrite;
  const BOOL ok = GetFileTime(handle, &creation, &lastAccess, &lastWrite);
  CloseHandle(handle);
  if (!ok) return false;
  times.creation = FromFiletime(creation);
  times.lastAccess = FromFiletime(lastAccess);
  times.lastWrite = FromFiletime(lastWrite);
  return true;
}

bool WriteFileTimes(const std::wstring& path, const FileTimes& times) {
  HANDLE handle = INVALID_HANDLE_VALUE;
  RetryTransient([&] {
    handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    return Outcome(handle != INVALID_HANDLE_VALUE);
  });
  if (handle == INVALID_HANDLE_VALUE) return false;
  const FILETIME creation = ToFiletime(times.creation);
  const FILETIME lastAccess = ToFiletime(times.lastAccess);
  const FILETIME lastWrite = ToFiletime(times.lastWrite);
  const BOOL ok = SetFileTime(handle, &creation, &lastAccess, &lastWrite);
  CloseHandle(handle);
  return ok != FALSE;
}

}  // namespace platform
