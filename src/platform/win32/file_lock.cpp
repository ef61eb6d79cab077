// The lock file on Windows: a file opened without sharing, which the system
// deletes when the handle closes, also when the process is ended.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

FileLock::~FileLock() { Release(); }

bool FileLock::Take(const std::wstring& path) {
  if (Held()) return false;
  // A second open fails with a sharing violation while the file is held,
  // and with access denied while its deletion is pending. A link of that
  // name is opened itself and refused as not a plain file.
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT,
                              nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    CloseHandle(handle);
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(handle);
  path_ = path;
  return true;
}

void FileLock::Release() {
  if (!Held()) return;
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = kNoHandle;
  path_.clear();
}

}  // namespace platform
