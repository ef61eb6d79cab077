// Exclusive creation of new files on POSIX.
#include <fcntl.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/native_path.h"
#include "platform/retry.h"

namespace platform {

std::FILE* CreateNewFile(const std::wstring& path) {
  // O_EXCL also refuses a symbolic link of that name, dangling or not.
  const std::string nativePath = posix::ToNativePath(path);
  int descriptor = -1;
  RetryTransient([&] {
    descriptor = open(nativePath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return Outcome(descriptor >= 0);
  });
  if (descriptor < 0) return nullptr;
  std::FILE* stream = fdopen(descriptor, "wb");
  if (stream == nullptr) close(descriptor);
  return stream;
}

}  // namespace platform
