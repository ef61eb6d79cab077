// Path joining, relative paths and file-system probes on POSIX, with the
// behaviour of the Windows shell path functions the program relies on.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/native_path.h"

namespace platform {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool HasDrive(const std::wstring& path) { return path.size() >= 2 && path[1] == L':'; }

bool IsUnc(const std::wstring& path) {
  return path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\';
}

// The root that ".." never climbs above: "\\", "\", "X:\" or "X:".
std::size_t RootLength(const std::wstring& path) {
  if (IsUnc(path)) return 2;
  if (!path.empty() && path[0] == L'\\') return 1;
  if (HasDrive(path)) return path.size() > 2 && path[2] == L'\\' ? 3 : 2;
  return 0;
}

// Drops "." segments and lets ".." remove the segment before it, splitting
// on "\" only, as PathCanonicalizeW does.
std::wstring Canonicalize(const std::wstring& path) {
  const std::size_t rootLength = RootLength(path);
  std::vector<std::wstring> segments;
  std::size_t start = rootLength;
  while (start <= path.size()) {
    std::size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    std::wstring segment = path.substr(start, end - start);
    const bool last = end == path.size();
    if (segment == L"..") {
      if (!segments.empty()) segments.pop_back();
    } else if (segment != L"." && !(last && segment.empty() && segments.empty())) {
      segments.push_back(segment);
    }
    start = end + 1;
  }
  std::wstring result = path.substr(0, rootLength);
  for (std::size_t i = 0; i < segments.size(); ++i) {
    if (i > 0) result += L'\\';
    result += segments[i];
  }
  return result;
}

}  // namespace

bool JoinPath(std::wstring& path, const std::wstring& more) {
  std::size_t skip = 0;
  if (!IsUnc(more)) {
    while (skip < more.size() && more[skip] == L'\\') ++skip;
  }
  const std::wstring tail = more.substr(skip);
  std::wstring joined;
  if (tail.empty()) {
    joined = path;
  } else if (path.empty() || HasDrive(tail) || IsUnc(tail)) {
    joined = tail;
  } else {
    joined = path;
    if (!IsSeparator(joined.back())) joined += L'\\';
    joined += tail;
  }
  joined = Canonicalize(joined);
  if (joined.size() + 1 > kMaxPath) return false;
  path = joined;
  return true;
}

std::wstring RelativePath(const std::wstring& root, const std::wstring& file) {
  std::size_t rootLength = root.size();
  while (rootLength > 0 && IsSeparator(root[rootLength - 1])) --rootLength;
  if (file.size() <= rootLength + 1 || file.compare(0, rootLength, root, 0, rootLength) != 0 ||
      !IsSeparator(file[rootLength])) {
    return std::wstring();
  }
  std::wstring relative = L".\\" + file.substr(rootLength + 1);
  for (wchar_t& c : relative) {
    if (c == L'/') c = L'\\';
  }
  return relative;
}

std::wstring DisplayPath(const std::wstring& path) {
  std::wstring shown = path;
  std::replace(shown.begin(), shown.end(), L'\\', L'/');
  return shown;
}

bool PathExists(const std::wstring& path) {
  struct stat info;
  return stat(posix::ToNativePath(path).c_str(), &info) == 0;
}

bool IsDirectory(const std::wstring& path) {
  struct stat info;
  return stat(posix::ToNativePath(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void MakeDirectory(const std::wstring& path) {
  mkdir(posix::ToNativePath(path).c_str(), 0777);
}

std::optional<FileIdentity> IdentityOf(const std::wstring& path) {
  struct stat info;
  if (stat(posix::ToNativePath(path).c_str(), &info) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

std::optional<FileIdentity> IdentityOfName(const std::wstring& path) {
  struct stat info;
  if (lstat(posix::ToNativePath(path).c_str(), &info) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

bool IsLink(const std::wstring& path) {
  struct stat info;
  return lstat(posix::ToNativePath(path).c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

std::optional<FileIdentity> IdentityOfStream(std::FILE* stream) {
  struct stat info;
  if (fstat(fileno(stream), &info) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

std::optional<std::uint64_t> SizeOfStream(std::FILE* stream) {
  struct stat info;
  if (fstat(fileno(stream), &info) != 0 || info.st_size < 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

}  // namespace platform
