/* Runs one command and writes "<exit status> <seconds> <peak resident KiB>"
 * to the file named first.
 *
 * The kernel keeps a process's peak resident size across exec, so a child
 * forked from a large process (the Python benchmark) reports at least its
 * parent's size. Forked from this small, statically linked launcher, the
 * child reports its own peak.
 *
 *     peak_rss RESULT-FILE COMMAND [ARGUMENT...]
 */
#define _GNU_SOURCE
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double Now(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s RESULT-FILE COMMAND [ARGUMENT...]\n", argv[0]);
    return 2;
  }
  const double start = Now();
  const pid_t child = fork();
  if (child < 0) return 2;
  if (child == 0) {
    execvp(argv[2], argv + 2);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (wait4(child, &status, 0, &usage) != child) return 2;
  const double seconds = Now() - start;
  FILE* result = fopen(argv[1], "w");
  if (result == NULL) return 2;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  fprintf(result, "%d %.6f %ld\n", code, seconds, usage.ru_maxrss);
  return fclose(result) == 0 ? 0 : 2;
}
