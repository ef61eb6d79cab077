/* Makes the native program's n-th rename() fail with EIO, as a failing disk
 * would, so that an end-to-end test can fail an update in its commit: loaded
 * with LD_PRELOAD, it counts the calls and fails the one that
 * QUORVANE_FAIL_RENAME names (1 is the first). Not part of the program. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

int rename(const char* from, const char* to) {
  static int (*real_rename)(const char*, const char*);
  static long calls;
  if (real_rename == NULL) real_rename = (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename");
  const char* failing = getenv("QUORVANE_FAIL_RENAME");
  if (failing != NULL && ++calls == atol(failing)) {
    errno = EIO;
    return -1;
  }
  return real_rename(from, to);
}
