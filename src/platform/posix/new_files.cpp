// Exclusive creation and finishing of new files on POSIX.
#include <fcntl.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/native_path.h"

namespace platform {

std::FILE* CreateNewFile(const std::wstring& path) {
  // O_EXCL also refuses a symbolic link of that name, dangling or not.
  const int descriptor =
      open(posix::ToNativePath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (descriptor < 0) return nullptr;
  std::FILE* stream = fdopen(descriptor, "wb");
  if (stream == nullptr) close(descriptor);
  return stream;
}

bool FinishNewFile(std::FILE* stream) {
  const bool written = std::fflush(stream) == 0;
#ifdef SYNC_FILE_RANGE_WRITE
  // Starts the write-back of the whole file and returns at once: the disk
  // works on this file while the next one is inflated.
  if (written) sync_file_range(fileno(stream), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
  return std::fclose(stream) == 0 && written;
}

}  // namespace platform
