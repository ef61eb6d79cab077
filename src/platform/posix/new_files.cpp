// Exclusive creation of new files on POSIX.
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

}  // namespace platform
