// Which POSIX errors pass by themselves, and the pause between tries.
#include <time.h>

#include <cerrno>

#include "platform/retry.h"

namespace platform {

Attempt LastFailure() {
  switch (errno) {
    case EINTR:    // a signal came during the call
    case EAGAIN:   // a lease or a mandatory lock that another program holds
    case EBUSY:    // a file or a folder in use, where the file system refuses that
    case ETXTBSY:  // a program that is running from the file
      return Attempt::kTransient;
    default:
      return Attempt::kFailed;
  }
}

void PauseMilliseconds(unsigned milliseconds) {
  struct timespec pause;
  pause.tv_sec = static_cast<time_t>(milliseconds / 1000);
  pause.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

}  // namespace platform
