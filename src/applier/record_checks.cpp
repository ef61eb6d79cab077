// The checks of one record against the game folder.
#include "applier/record_checks.h"

#include "applier/base_file.h"
#include "applier/contained_path.h"
#include "applier/side_files.h"
#include "platform/platform.h"

namespace applier {
namespace {

DestinationCheck Failed(DestinationCheck& check, UpdateFault& fault, FaultKind kind) {
  if (kind != FaultKind::kNone) fault.kind = kind;
  check.ok = false;
  check.base.reset();
  return std::move(check);
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? std::wstring(L".") : path.substr(0, separator);
}

}  // namespace

bool LinkProbe::ReachesThroughLink(const std::wstring& installDir, const std::wstring& destination) {
  std::wstring folder = FolderOf(destination);
  if (folder == linkFreeFolder_) return false;
  // Every folder below the install directory, shortest first; the folders
  // that the update creates later are new, and no link. The destination
  // was joined in canonical form, so the install directory's length is
  // taken in that form too.
  std::wstring root = installDir;
  platform::JoinPath(root, std::wstring());
  for (std::size_t end = root.size() + 1; end < destination.size(); ++end) {
    if (IsSeparator(destination[end]) && platform::IsLink(destination.substr(0, end))) return true;
  }
  linkFreeFolder_ = std::move(folder);
  return false;
}

DestinationCheck CheckDestination(const std::wstring& installDir, const package::RecordHead& head,
                                  package::RecordKind kind, LinkProbe& links, UpdateFault& fault) {
  DestinationCheck check;
  fault = UpdateFault{};
  fault.path = head.path;
  // A path is judged before anything is looked at for it.
  check.destination = installDir;
  if (!IsContainedPackagePath(head.path) || !platform::JoinPath(check.destination, head.path) ||
      !SideFileNamesFit(check.destination)) {
    return Failed(check, fault, FaultKind::kBadRecord);
  }
  if (links.ReachesThroughLink(installDir, check.destination)) return Failed(check, fault, FaultKind::kThroughLink);
  const bool hasBase = kind != package::RecordKind::kFile;
  if (hasBase) {
    const BaseState state = LookAtBaseFile(check.destination, fault);
    if (state == BaseState::kDiffers) return Failed(check, fault, FaultKind::kNone);
    if (state == BaseState::kMissing) {
      if (kind == package::RecordKind::kDelta) return Failed(check, fault, FaultKind::kBaseMissing);
      check.baseMissing = true;
      check.ok = true;
      return check;
    }
  }
  // Found now, before anything is replaced: a directory in the way, a
  // read-only file or a game that is still running. Asked before the old
  // file is opened, since Windows finds a file in use while this program
  // holds it open too.
  check.occupant = platform::OccupantOf(check.destination);
  if (check.occupant == platform::Occupant::kInTheWay) return Failed(check, fault, FaultKind::kCannotStage);
  if (hasBase && CheckBaseFile(check.destination, head.oldFile, fault,
                               kind == package::RecordKind::kDelta ? &check.base : nullptr) != BaseState::kMatches) {
    // Gone between the look and the check: another program is at work in the folder.
    if (fault.kind == FaultKind::kNone) fault.kind = FaultKind::kBaseMissing;
    return Failed(check, fault, FaultKind::kNone);
  }
  check.ok = true;
  return check;
}

}  // namespace applier
