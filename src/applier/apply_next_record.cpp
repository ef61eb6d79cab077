// The record reader: one package record per call, strictly forward.
#include "applier/apply_next_record.h"

#include "package/record_reader.h"

int ApplyNextRecord(std::FILE* package, applier::Update& update) {
  package::RecordHead head;
  switch (package::ReadRecordHead(package, head)) {
    case package::RecordKind::kEnd:
      return -1;
    case package::RecordKind::kFile:
      return update.Stage(package, head.path, head.times) ? 1 : 0;
    case package::RecordKind::kDelta:
      return update.StageDelta(package, head) ? 1 : 0;
    case package::RecordKind::kRemoval:
      return update.StageRemoval(head) ? 1 : 0;
    default:
      update.RefuseRecord(head.path);
      return 0;
  }
}
