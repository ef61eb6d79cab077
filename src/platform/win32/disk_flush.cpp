// Flushing files to the disk on Windows. Without administrator rights a
// volume cannot be flushed as a whole, so each file is; folders need
// nothing, since every move is written through when it returns.
#include <windows.h>

#include "platform/platform.h"
#include "platform/retry.h"

namespace platform {

DiskFlush::~DiskFlush() = default;

void DiskFlush::AddFile(const std::wstring& path) {
  const bool flushed = RetryTransient([&] {
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return LastFailure();
    const Attempt result = Outcome(FlushFileBuffers(handle) != FALSE);
    CloseHandle(handle);
    return result;
  });
  if (!flushed) failed_ = true;
}

void DiskFlush::AddFolder(const std::wstring&) {}

bool DiskFlush::Finish() { return !failed_; }

}  // namespace platform
