// Path joining, relative paths and file-system probes on Windows, through
// the shell's path functions.
#include <windows.h>
#include <shlwapi.h>
#include <io.h>
#include <wchar.h>

#include "platform/platform.h"

namespace platform {

bool JoinPath(std::wstring& path, const std::wstring& more) {
  // Older PathAppendW versions overrun or cut a result that does not fit;
  // refuse any join whose parts cannot fit before asking it.
  if (path.size() + 1 + more.size() + 1 > kMaxPath) return false;
  wchar_t buffer[kMaxPath];
  wcscpy(buffer, path.c_str());
  if (!PathAppendW(buffer, more.c_str())) return false;
  path = buffer;
  return true;
}

std::wstring RelativePath(const std::wstring& root, const std::wstring& file) {
  wchar_t buffer[kMaxPath];
  if (!PathRelativePathToW(buffer, root.c_str(), FILE_ATTRIBUTE_DIRECTORY, file.c_str(),
                           FILE_ATTRIBUTE_ARCHIVE)) {
    return std::wstring();
  }
  // Anything but ".\..." lies outside the root (a "..\" climb or a drive).
  if (buffer[0] != L'.' || buffer[1] != L'\\') return std::wstring();
  return buffer;
}

std::wstring DisplayPath(const std::wstring& path) { return path; }

bool PathExists(const std::wstring& path) { return PathFileExistsW(path.c_str()) != FALSE; }

bool IsDirectory(const std::wstring& path) { return PathIsDirectoryW(path.c_str()) != FALSE; }

void MakeDirectory(const std::wstring& path) { _wmkdir(path.c_str()); }

namespace {

std::optional<FileIdentity> IdentityOfHandle(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber,
                      (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

}  // namespace

std::optional<FileIdentity> IdentityOf(const std::wstring& path) {
  // Backup semantics lets the handle name a directory too.
  HANDLE handle = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  const std::optional<FileIdentity> identity = IdentityOfHandle(handle);
  CloseHandle(handle);
  return identity;
}

std::optional<FileIdentity> IdentityOfName(const std::wstring& path) {
  // No access to the content, so no other program's sharing mode refuses
  // the open; FILE_FLAG_OPEN_REPARSE_POINT opens a link itself.
  HANDLE handle = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  const std::optional<FileIdentity> identity = IdentityOfHandle(handle);
  CloseHandle(handle);
  return identity;
}

bool IsLink(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

std::optional<FileIdentity> IdentityOfStream(std::FILE* stream) {
  return IdentityOfHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))));
}

std::optional<std::uint64_t> SizeOfStream(std::FILE* stream) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &size) || size.QuadPart < 0) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(size.QuadPart);
}

}  // namespace platform
