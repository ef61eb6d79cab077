// The POSIX entry point: runs one mode, and exits with 1 when an error or
// failure was reported, so scripts can tell the outcome.
#include "app/drivers.h"
#include "platform/posix/process.h"

int main(int argc, char** argv) {
  platform::posix::SetArguments(argc, argv);
  RunProgram();
  return platform::posix::ExitStatus();
}
