// Exclusive creation of new files on Windows.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include "platform/platform.h"
#include "platform/retry.h"

namespace platform {

std::FILE* CreateNewFile(const std::wstring& path) {
  // CREATE_NEW fails on any existing name. The share mode is the C
  // runtime's own for _wopen, so that the file behaves as fopen's would.
  HANDLE handle = INVALID_HANDLE_VALUE;
  RetryTransient([&] {
    handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    return Outcome(handle != INVALID_HANDLE_VALUE);
  });
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (descriptor < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* stream = _fdopen(descriptor, "wb");
  if (stream == nullptr) _close(descriptor);
  return stream;
}

}  // namespace platform
