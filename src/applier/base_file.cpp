// Checking the old file that a delta or a removal names.
#include "applier/base_file.h"

#include <optional>

#include "applier/rebuild_from_delta.h"
#include "platform/platform.h"

namespace applier {
namespace {

BaseState Differs(UpdateFault& fault, FaultKind kind, std::uint64_t expected = 0, std::uint64_t found = 0) {
  fault.kind = kind;
  fault.expected = expected;
  fault.found = found;
  return BaseState::kDiffers;
}

}  // namespace

BaseState LookAtBaseFile(const std::wstring& destination, UpdateFault& fault) {
  // The name itself is looked at, not what a link leads to.
  if (!platform::IdentityOfName(destination)) return BaseState::kMissing;
  if (platform::IsLink(destination) || platform::IsDirectory(destination)) {
    return Differs(fault, FaultKind::kBaseNotAFile);
  }
  return BaseState::kMatches;
}

BaseState CheckBaseFile(const std::wstring& destination, const package::FileCheck& expected, UpdateFault& fault,
                        platform::UniqueFile* opened) {
  const BaseState look = LookAtBaseFile(destination, fault);
  if (look != BaseState::kMatches) return look;
  const std::optional<platform::FileIdentity> name = platform::IdentityOfName(destination);
  platform::UniqueFile file(platform::OpenFile(destination, "rb"));
  if (!file) return Differs(fault, FaultKind::kBaseUnreadable);
  // A link put in its place between the look and the open is found here.
  if (!name || !(platform::IdentityOfStream(file.get()) == *name)) return Differs(fault, FaultKind::kBaseNotAFile);
  std::uint64_t found = 0;
  switch (CheckFile(file.get(), expected, found)) {
    case BaseCheck::kMatches:
      break;
    case BaseCheck::kSizeDiffers:
      return Differs(fault, FaultKind::kBaseSizeDiffers, expected.size, found);
    case BaseCheck::kContentDiffers:
      return Differs(fault, FaultKind::kBaseContentDiffers, expected.crc, found);
    case BaseCheck::kUnreadable:
      return Differs(fault, FaultKind::kBaseUnreadable);
  }
  if (opened != nullptr) *opened = std::move(file);
  return BaseState::kMatches;
}

}  // namespace applier
