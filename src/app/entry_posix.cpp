// The POSIX entry point: runs a publisher's option (--help, --list, ...)
// when word 1 names one, else one mode, and exits with 1 when an error or
// failure was reported, or with 3 when a pack left files out, so scripts
// can tell the outcome.
#include <cstdlib>
#include <iostream>

#include "app/drivers.h"
#include "packer/pack_workers.h"
#include "platform/platform.h"
#include "platform/posix/process.h"
#include "publisher/publisher_options.h"

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

int main(int argc, char** argv) {
#ifdef M_TRIM_THRESHOLD
  // Each packed file's deflate state, some 270 KiB, is freed when the file
  // is done. glibc would hand that memory back to the system every time and
  // fault it in afresh for the next file, which costs more than compressing
  // a small file; kept, it is reused and the peak stays the same.
  mallopt(M_TRIM_THRESHOLD, 1 << 20);
#endif
  platform::posix::SetArguments(argc, argv);
  const std::optional<int> optionStatus =
      publisher::RunPublisherOption(platform::CommandLineWords(), std::cout, std::cerr);
  if (optionStatus) return *optionStatus;
  const std::optional<unsigned> workers = publisher::PackWorkers(std::getenv(publisher::kJobsVariable));
  if (!workers) {
    std::cerr << "quorvane-update: " << publisher::kJobsVariable
              << " must be a whole number from 1 to 1024 (see quorvane-update --help)\n";
    return publisher::kExitUsage;
  }
  packer::SetPackWorkers(*workers);
  RunProgram();
  const int status = platform::posix::ExitStatus();
  if (status == 0 && FilesLeftOutOfLastPack() > 0) return publisher::kExitPatchLacksFiles;
  return status;
}
