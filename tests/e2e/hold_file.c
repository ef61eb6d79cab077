/* Holds a file open without sharing, as a game or a virus scanner may while
 * a patch runs: opens the file named by its argument with sharing mode 0,
 * writes "held" and a line end to standard output, and keeps the file open
 * until its standard input ends. Under Wine, sharing modes bind only Wine
 * processes, so the end-to-end tests run this beside the patch.
 * Usage: hold_file PATH */
#include <windows.h>
#include <stdio.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    fputs("usage: hold_file PATH\n", stderr);
    return 2;
  }
  HANDLE file = CreateFileW(argv[1], GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "hold_file: cannot open the file, error %lu\n", GetLastError());
    return 1;
  }
  puts("held");
  fflush(stdout);
  char buffer[256];
  while (fread(buffer, 1, sizeof buffer, stdin) > 0) {
  }
  CloseHandle(file);
  return 0;
}
