// Output creation with missing parent directories made on demand.
#include "applier/open_output_creating_dirs.h"

#include "platform/platform.h"

namespace applier {

std::FILE* OpenOutputCreatingDirs(const std::wstring& path, std::vector<std::wstring>& created) {
  // Extraction into an existing tree costs a single open: directories are
  // probed only once that failed.
  if (std::FILE* output = platform::CreateNewFile(path)) return output;
  for (std::size_t end = 0; end < path.size(); ++end) {
    // "/" separates too, as it does for Windows. The name after the last
    // separator is the file's and never becomes a directory.
    if (path[end] != L'\\' && path[end] != L'/') continue;
    std::wstring prefix = path.substr(0, end);
    // A prefix that cannot be made (a drive, the empty root, an existing
    // file) is passed over: the second open decides.
    if (platform::IsDirectory(prefix)) continue;
    platform::MakeDirectory(prefix);
    if (platform::IsDirectory(prefix)) created.push_back(std::move(prefix));
  }
  return platform::CreateNewFile(path);
}

}  // namespace applier
