// The record reader: one package record per call, strictly forward.
#include "applier/apply_next_record.h"

#include <string>

#include "app/globals.h"
#include "applier/contained_path.h"
#include "applier/inflate_to_file.h"
#include "applier/read_package_path.h"
#include "applier/restore_file_times.h"
#include "package/fields.h"
#include "platform/platform.h"

namespace {

// Reads creation, last access and last write time, in that order; false
// when the package ends before all three.
bool ReadRecordTimes(std::FILE* package, platform::FileTimes& times) {
  return package::ReadU64(package, times.creation) && package::ReadU64(package, times.lastAccess) &&
         package::ReadU64(package, times.lastWrite);
}

}  // namespace

int ApplyNextRecord(std::FILE* package) {
  package::RecordTag tag;
  if (!package::ReadTag(package, tag)) return 0;
  if (package::TagEquals(tag, package::kEndTag)) {
    std::uint32_t payloadLength;
    package::ReadU32(package, payloadLength);  // located from the trailer already
    return -1;
  }
  if (!package::TagEquals(tag, package::kFileTag)) return 0;

  // Everything that can reject the record is decided before anything is
  // created on disk.
  const std::wstring packagePath = applier::ReadPackagePath(package);
  if (!applier::IsContainedPackagePath(packagePath)) return 0;  // an empty path too
  std::wstring outputPath = g_installDir;
  if (!platform::JoinPath(outputPath, packagePath)) return 0;
  platform::FileTimes times;
  if (!ReadRecordTimes(package, times)) return 0;

  if (!applier::InflateToFile(package, outputPath)) return 0;
  // A file whose times cannot be set still counts as applied.
  applier::RestoreFileTimes(outputPath, times);
  return 1;
}
