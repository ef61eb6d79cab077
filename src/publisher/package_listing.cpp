// Listing a package by walking it with apply mode's reader.
#include "publisher/package_listing.h"

#include <cstdint>

#include "publisher/file_time_text.h"
#include "publisher/package_walk.h"
#include "publisher/patch_report.h"
#include "publisher/path_text.h"

namespace publisher {

bool ListPackage(const std::wstring& patchPath, std::ostream& out, std::ostream& err) {
  const platform::UniqueFile patch = OpenPatch(patchPath, err);
  if (!patch) return false;
  std::uint64_t files = 0;
  std::uint64_t size = 0;
  std::uint64_t compressedSize = 0;
  const WalkEnd end = WalkPackage(patch.get(), [&](const WalkedRecord& record) {
    out << PathText(record.path) << '\t' << record.size << '\t' << record.compressedSize << '\t'
        << FileTimeText(record.times.lastWrite) << '\n';
    ++files;
    size += record.size;
    compressedSize += record.compressedSize;
    return true;
  });
  if (end.fault != WalkFault::kNone) {
    out.flush();
    ReportFailure(err, patchPath, DescribeFault(end));
    return false;
  }
  out << files << (files == 1 ? " file" : " files") << '\t' << size << '\t' << compressedSize << '\n';
  return true;
}

}  // namespace publisher
