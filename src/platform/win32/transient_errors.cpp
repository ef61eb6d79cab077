// Which Windows errors pass by themselves, and the pause between tries.
#include <windows.h>

#include "platform/retry.h"

namespace platform {

Attempt LastFailure() {
  switch (GetLastError()) {
    case ERROR_SHARING_VIOLATION:  // another program has the file open without sharing
    case ERROR_LOCK_VIOLATION:     // another program has locked a part of it
    case ERROR_ACCESS_DENIED:      // a scanner's open, or a file whose deletion is pending
      return Attempt::kTransient;
    default:
      return Attempt::kFailed;
  }
}

void PauseMilliseconds(unsigned milliseconds) { Sleep(milliseconds); }

}  // namespace platform
