// Packing one file after the other, straight into the package.
#include "packer/sequential_record_sink.h"

#include "app/globals.h"

namespace packer {

SequentialRecordSink::SequentialRecordSink(std::FILE* package)
    : output_(package), package_(platform::IdentityOfStream(package)) {}

bool SequentialRecordSink::Add(const std::wstring& sourcePath) {
  const RecordOutcome outcome = WriteFileRecordTo(output_, g_sourceRoot, sourcePath, package_);
  if (outcome.result == RecordResult::kSkipped) NoteLeftOut(sourcePath, outcome.why);
  return outcome.result != RecordResult::kPackageBroken;
}

}  // namespace packer
