// Side file names: the destination's name with a suffix of the program's.
#include "applier/side_files.h"

#include "package/path_component.h"
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
  for (const SideFile kind : {SideFile::kPartial, SideFile::kBackup}) {
    const std::wstring longest = SideFileName(destination, kind, lastAttempt);
    if (longest.size() >= platform::kMaxPath) return false;
    // Every name on the way, the side file's own last.
    std::size_t start = 0;
    for (;;) {
      const std::size_t separator = longest.find_first_of(L"\\/", start);
      const std::size_t end = separator == std::wstring::npos ? longest.size() : separator;
      if (end - start > package::kMaxComponentUnits) return false;
      if (separator == std::wstring::npos) break;
      start = separator + 1;
    }
  }
  return true;
}

}  // namespace applier
