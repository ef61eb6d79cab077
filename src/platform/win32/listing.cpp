// Directory listing on Windows through FindFirstFileW and FindNextFileW.
#include <windows.h>

#include "platform/platform.h"

namespace platform {
namespace {

void TakeEntry(const WIN32_FIND_DATAW& data, DirectoryEntry& entry) {
  entry.name = data.cFileName;
  entry.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

DirectoryListing::DirectoryListing(const std::wstring& pattern) {
  WIN32_FIND_DATAW data;
  HANDLE handle = FindFirstFileW(pattern.c_str(), &data);
  if (handle == INVALID_HANDLE_VALUE) return;
  handle_ = handle;
  TakeEntry(data, current_);
}

DirectoryListing::~DirectoryListing() {
  if (handle_ != nullptr) FindClose(static_cast<HANDLE>(handle_));
}

bool DirectoryListing::IsOpen() const { return handle_ != nullptr; }

bool DirectoryListing::Next() {
  if (handle_ == nullptr) return false;
  WIN32_FIND_DATAW data;
  if (!FindNextFileW(static_cast<HANDLE>(handle_), &data)) return false;
  TakeEntry(data, current_);
  return true;
}

}  // namespace platform
