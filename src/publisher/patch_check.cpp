// Checking a patch against a game folder with the update's own checks.
#include "publisher/patch_check.h"

#include <cstdint>

#include "applier/rebuild_from_delta.h"
#include "applier/record_checks.h"
#include "package/layout.h"
#include "platform/platform.h"
#include "platform/posix/native_path.h"
#include "platform/unique_file.h"
#include "publisher/package_walk.h"
#include "publisher/patch_report.h"

namespace publisher {
namespace {

// Rebuilds the delta record at `record.offset` from `base` into nothing and
// compares the result with what the record names, then puts the patch back
// where the walk left it. Sets `fault` and returns false when it differs.
bool RebuildMatches(std::FILE* patch, const WalkedRecord& record, std::FILE* base, applier::UpdateFault& fault) {
  const long resume = std::ftell(patch);
  package::RecordHead head;
  bool matches = resume >= 0 && std::fseek(patch, record.offset, SEEK_SET) == 0 &&
                 package::ReadRecordHead(patch, head) == package::RecordKind::kDelta;
  if (matches) {
    const platform::UniqueFile nowhere(platform::OpenFile(L"/dev/null", "wb"));
    std::uint32_t built = 0;
    const applier::RebuildResult result = applier::RebuildFromDelta(patch, head, base, nowhere.get(), &built);
    if (result == applier::RebuildResult::kResultDiffers) {
      fault.kind = applier::FaultKind::kResultDiffers;
      fault.expected = head.newFile.crc;
      fault.found = built;
    } else if (result != applier::RebuildResult::kRebuilt) {
      fault.kind = result == applier::RebuildResult::kReadFailed ? applier::FaultKind::kBaseUnreadable
                                                                  : applier::FaultKind::kBadDelta;
    }
    matches = result == applier::RebuildResult::kRebuilt;
  }
  if (std::fseek(patch, resume, SEEK_SET) != 0) return false;
  return matches;
}

}  // namespace

bool CheckPatch(const std::wstring& patchPath, const std::wstring& gamePath, std::ostream& out, std::ostream& err) {
  const platform::UniqueFile patch = OpenPatch(patchPath, err);
  if (!patch) return false;
  if (!platform::IsDirectory(gamePath)) {
    ReportFailure(err, gamePath, "not a folder");
    return false;
  }
  std::uint64_t files = 0;
  std::uint64_t deltas = 0;
  std::uint64_t removals = 0;
  std::uint64_t gone = 0;
  applier::UpdateFault fault;
  applier::LinkProbe links;
  const WalkEnd end = WalkPackage(patch.get(), [&](const WalkedRecord& record) {
    package::RecordHead head;
    head.path = record.path;
    head.oldFile = record.oldFile;
    applier::DestinationCheck check = applier::CheckDestination(gamePath, head, record.kind, links, fault);
    if (!check.ok) return false;
    switch (record.kind) {
      case package::RecordKind::kDelta:
        ++deltas;
        return RebuildMatches(patch.get(), record, check.base.get(), fault);
      case package::RecordKind::kRemoval:
        ++removals;
        if (check.baseMissing) ++gone;
        return true;
      default:
        ++files;
        return true;
    }
  });
  if (end.fault == WalkFault::kStopped) {
    ReportFailure(err, patchPath,
                  "would not apply to " + platform::posix::ToUtf8(gamePath) + ": " +
                      platform::posix::ToUtf8(applier::DescribeUpdateFault(fault)));
    return false;
  }
  if (end.fault != WalkFault::kNone) {
    ReportFailure(err, patchPath, DescribeFault(end));
    return false;
  }
  out << platform::posix::ToUtf8(patchPath) << ": would apply to " << platform::posix::ToUtf8(gamePath) << ": "
      << files << (files == 1 ? " whole file, " : " whole files, ") << deltas << (deltas == 1 ? " delta, " : " deltas, ")
      << removals << (removals == 1 ? " removal" : " removals");
  if (gone != 0) out << " (" << gone << " already gone)";
  out << '\n';
  return true;
}

}  // namespace publisher
