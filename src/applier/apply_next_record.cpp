// The record reader: one package record per call, strictly forward.
#include "applier/apply_next_record.h"

#include <string>

#include "app/globals.h"
#include "applier/contained_path.h"
#include "applier/inflate_to_file.h"
#include "applier/restore_file_times.h"
#include "package/record_reader.h"
#include "platform/platform.h"

int ApplyNextRecord(std::FILE* package) {
  package::RecordHead head;
  switch (package::ReadRecordHead(package, head)) {
    case package::RecordKind::kEnd:
      return -1;
    case package::RecordKind::kFile:
      break;
    default:
      return 0;
  }
  // Everything that can reject the record is decided before anything is
  // created on disk.
  if (!applier::IsContainedPackagePath(head.path)) return 0;
  std::wstring outputPath = g_installDir;
  if (!platform::JoinPath(outputPath, head.path)) return 0;

  if (!applier::InflateToFile(package, outputPath)) return 0;
  // A file whose times cannot be set still counts as applied.
  applier::RestoreFileTimes(outputPath, head.times);
  return 1;
}
