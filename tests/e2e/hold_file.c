/* Holds a file open as a game or a virus scanner may while a patch runs.
 * Under Wine, sharing modes bind only Wine processes, so the end-to-end
 * tests run this beside the patch.
 *
 * Usage: hold_file PATH
 *   Opens PATH sharing nothing, writes "held" and a line end to standard
 *   output, and keeps the file open until its standard input ends: a game
 *   that is running.
 * Usage: hold_file SHARE AFTER DELAY_MS HOLD_MS PATH
 *   A scanner's hold: waits until the file AFTER exists ("-" for no wait),
 *   then DELAY_MS more, then opens PATH with the sharing mode SHARE ("none",
 *   "read" or "read-delete"), trying again while it cannot, writes "held",
 *   keeps it open HOLD_MS and writes "released". Ends with 1 when nothing
 *   was held within a minute. */
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

#define GIVE_UP_MS 60000

static DWORD ShareMode(const wchar_t* name) {
  if (wcscmp(name, L"read") == 0) return FILE_SHARE_READ;
  if (wcscmp(name, L"read-delete") == 0) return FILE_SHARE_READ | FILE_SHARE_DELETE;
  return 0;
}

/* The loops count real time: a call into Wine's server can take longer
 * than the millisecond slept. */
static HANDLE OpenWhenPossible(const wchar_t* path, DWORD share) {
  const ULONGLONG start = GetTickCount64();
  while (GetTickCount64() - start < GIVE_UP_MS) {
    HANDLE file = CreateFileW(path, GENERIC_READ, share, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) return file;
    Sleep(1);
  }
  return INVALID_HANDLE_VALUE;
}

static int WaitForFile(const wchar_t* path) {
  const ULONGLONG start = GetTickCount64();
  while (GetTickCount64() - start < GIVE_UP_MS) {
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) return 1;
    Sleep(1);
  }
  return 0;
}

static int HoldUntilInputEnds(const wchar_t* path) {
  HANDLE file = CreateFileW(path, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
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

static int HoldFor(DWORD share, const wchar_t* after, DWORD delay, DWORD hold, const wchar_t* path) {
  /* Said once the holder runs, so that the test starts the patch only then:
   * a holder that Wine starts late would miss a file that lives briefly. */
  puts("waiting");
  fflush(stdout);
  if (wcscmp(after, L"-") != 0 && !WaitForFile(after)) {
    fputs("hold_file: the file to wait for never came\n", stderr);
    return 1;
  }
  Sleep(delay);
  HANDLE file = OpenWhenPossible(path, share);
  if (file == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "hold_file: cannot open the file, error %lu\n", GetLastError());
    return 1;
  }
  puts("held");
  fflush(stdout);
  Sleep(hold);
  CloseHandle(file);
  puts("released");
  return 0;
}

int wmain(int argc, wchar_t** argv) {
  if (argc == 2) return HoldUntilInputEnds(argv[1]);
  if (argc == 6) return HoldFor(ShareMode(argv[1]), argv[2], wcstoul(argv[3], NULL, 10), wcstoul(argv[4], NULL, 10), argv[5]);
  fputs("usage: hold_file PATH | hold_file SHARE AFTER DELAY_MS HOLD_MS PATH\n", stderr);
  return 2;
}
