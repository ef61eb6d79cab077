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

}  // namespace

DestinationCheck CheckDestination(const std::wstring& installDir, const package::RecordHead& head,
                                  package::RecordKind kind, UpdateFault& fault) {
  DestinationCheck check;
  fault = UpdateFault{};
  fault.path = head.path;
  // A path is judged before anything is looked at for it.
  check.destination = installDir;
  if (!IsContainedPackagePath(head.path) || !platform::JoinPath(check.destination, head.path) ||
      !SideFileNamesFit(check.destination)) {
    return Failed(check, fault, FaultKind::kBadRecord);
  }
  if (kind != package::RecordKind::kFile) {
    const BaseState state = CheckBaseFile(check.destination, head.oldFile, fault,
                                          kind == package::RecordKind::kDelta ? &check.base : nullptr);
    if (state == BaseState::kDiffers) return Failed(check, fault, FaultKind::kNone);
    if (state == BaseState::kMissing) {
      if (kind == package::RecordKind::kDelta) return Failed(check, fault, FaultKind::kBaseMissing);
      check.baseMissing = true;
      check.ok = true;
      return check;
    }
  }
  // Found now, before anything is replaced: a directory in the way, a
  // read-only file or a game that is still running.
  if (platform::OccupantOf(check.destination) == platform::Occupant::kInTheWay) {
    return Failed(check, fault, FaultKind::kCannotStage);
  }
  check.ok = true;
  return check;
}

}  // namespace applier
