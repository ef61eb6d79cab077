// The Windows entry point. The program opens no window: it reads its own
// command line, runs one mode to its end and exits with 0.
#include <windows.h>

#include "app/drivers.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The program runs elevated from download folders, where a planted DLL
  // could be loaded in place of a system one: load only from System32.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  return RunProgram();
}
