// The Windows program's record writer: it runs one thread.
#include "packer/sequential_record_sink.h"

namespace packer {

std::unique_ptr<RecordSink> MakeRecordSink(std::FILE* package) {
  return std::make_unique<SequentialRecordSink>(package);
}

}  // namespace packer
