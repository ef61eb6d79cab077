// Restoring a file's three times after its content is complete.
#include "applier/restore_file_times.h"

namespace applier {

int RestoreFileTimes(const std::wstring& path, const platform::FileTimes& times) {
  return platform::WriteFileTimes(path, times) ? 1 : 0;
}

}  // namespace applier
