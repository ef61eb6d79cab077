// The native program's record writer: one file after the other with one
// worker, several files at once with more.
#include "packer/pack_workers.h"
#include "packer/parallel_record_sink.h"
#include "packer/sequential_record_sink.h"

namespace packer {
namespace {

unsigned g_packWorkers = 1;

}  // namespace

void SetPackWorkers(unsigned workers) { g_packWorkers = workers == 0 ? 1 : workers; }

std::unique_ptr<RecordSink> MakeRecordSink(std::FILE* package) {
  // One worker gains nothing from a thread, and keeps today's path.
  if (g_packWorkers == 1) return std::make_unique<SequentialRecordSink>(package);
  return std::make_unique<ParallelRecordSink>(package, g_packWorkers);
}

}  // namespace packer
