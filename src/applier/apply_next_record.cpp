// The record reader: one package record per call, strictly forward.
#include "applier/apply_next_record.h"

#include "applier/contained_path.h"
#include "package/record_reader.h"

int ApplyNextRecord(std::FILE* package, applier::Update& update) {
  package::RecordHead head;
  switch (package::ReadRecordHead(package, head)) {
    case package::RecordKind::kEnd:
      return -1;
    case package::RecordKind::kFile:
      break;
    default:
      return 0;
  }
  // A path is judged before anything is created for it.
  if (!applier::IsContainedPackagePath(head.path)) return 0;
  return update.Stage(package, head.path, head.times) ? 1 : 0;
}
