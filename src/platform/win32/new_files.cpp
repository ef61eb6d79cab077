// Exclusive creation of new files on Windows.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <sys/stat.h>

#include "platform/platform.h"

namespace platform {

std::FILE* CreateNewFile(const std::wstring& path) {
  // _O_EXCL makes the open CREATE_NEW: it fails on any existing name.
  const int descriptor =
      _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (descriptor < 0) return nullptr;
  std::FILE* stream = _fdopen(descriptor, "wb");
  if (stream == nullptr) _close(descriptor);
  return stream;
}

}  // namespace platform
