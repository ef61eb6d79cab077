// Listing a package by walking it with apply mode's reader.
#include "publisher/package_listing.h"

#include <cstdint>
#include <cstdio>

#include "publisher/file_time_text.h"
#include "publisher/package_walk.h"
#include "publisher/patch_report.h"
#include "publisher/path_text.h"

namespace publisher {
namespace {

// The old file a delta or a removal names: its size and CRC-32 in
// hexadecimal, as `crc32` and `rhash` print it, with a tab between them.
std::string BaseText(const package::FileCheck& check) {
  char crc[9];
  std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(check.crc));
  return std::to_string(check.size) + '\t' + crc;
}

}  // namespace

bool ListPackage(const std::wstring& patchPath, std::ostream& out, std::ostream& err) {
  const platform::UniqueFile patch = OpenPatch(patchPath, err);
  if (!patch) return false;
  std::uint64_t files = 0;
  std::uint64_t removals = 0;
  std::uint64_t size = 0;
  std::uint64_t compressedSize = 0;
  const WalkEnd end = WalkPackage(patch.get(), [&](const WalkedRecord& record) {
    out << PathText(record.path) << '\t';
    if (record.kind == package::RecordKind::kRemoval) {
      out << "-\t-\t-\tremoval\t" << BaseText(record.oldFile) << '\n';
      ++removals;
      return true;
    }
    out << record.size << '\t' << record.compressedSize << '\t' << FileTimeText(record.times.lastWrite);
    if (record.kind == package::RecordKind::kDelta) {
      out << "\tdelta\t" << BaseText(record.oldFile) << '\n';
    } else {
      out << "\tfile\n";
    }
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
  out << files << (files == 1 ? " file" : " files") << '\t' << size << '\t' << compressedSize;
  if (removals != 0) out << '\t' << removals << (removals == 1 ? " removal" : " removals");
  out << '\n';
  return true;
}

}  // namespace publisher
