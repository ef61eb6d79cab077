// Side file names: the destination's name with a suffix of the program's.
#include "applier/side_files.h"

#include "package/side_file_names.h"
#include "platform/platform.h"

namespace applier {
namespace {

const wchar_t* SuffixOf(SideFile kind) {
  return kind == SideFile::kPartial ? package::kPartialSuffix : package::kBackupSuffix;
}

}  // namespace

std::wstring SideFileName(const std::wstring& destination, SideFile kind, unsigned attempt) {
  std::wstring name = destination + SuffixOf(kind);
  if (attempt > 0) name += L"-" + std::to_wstring(attempt);
  return name;
}

bool SideFileNamesFit(const std::wstring& destination) {
  const unsigned lastAttempt = kSideNameAttempts - 1;
  return SideFileName(destination, SideFile::kPartial, lastAttempt).size() < platform::kMaxPath &&
         SideFileName(destination, SideFile::kBackup, lastAttempt).size() < platform::kMaxPath;
}

}  // namespace applier
