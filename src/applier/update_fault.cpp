// The update's faults in words. Numbers are formatted here by hand: the
// Windows program carries no printf of its own (see src/app), and this text
// is all it needs one for.
#include "applier/update_fault.h"

namespace applier {
namespace {

std::wstring Decimal(std::uint64_t value) {
  std::wstring digits;
  do {
    digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + value % 10));
    value /= 10;
  } while (value != 0);
  return digits;
}

// A CRC-32 as eight lowercase hexadecimal digits, as `crc32` prints it.
std::wstring Hex32(std::uint64_t value) {
  std::wstring digits(8, L'0');
  for (int i = 7; i >= 0; --i, value >>= 4) digits[static_cast<std::size_t>(i)] = L"0123456789abcdef"[value & 0xF];
  return digits;
}

std::wstring Bytes(std::uint64_t size) { return Decimal(size) + (size == 1 ? L" byte" : L" bytes"); }

}  // namespace

std::wstring DescribeUpdateFault(const UpdateFault& fault) {
  const std::wstring notTheBase = L": not the file this patch was made from: ";
  std::wstring reason;
  switch (fault.kind) {
    case FaultKind::kNone:
      return std::wstring();
    case FaultKind::kBadRecord:
      reason = L": the patch's record cannot be read or names a path outside the game's folder";
      break;
    case FaultKind::kBaseMissing:
      reason = L": missing; the patch rebuilds it from the file it was made from";
      break;
    case FaultKind::kBaseNotAFile:
      reason = L": a folder or a link, not the file this patch was made from";
      break;
    case FaultKind::kBaseSizeDiffers:
      reason = notTheBase + Bytes(fault.found) + L", not " + Bytes(fault.expected);
      break;
    case FaultKind::kBaseContentDiffers:
      reason = notTheBase + L"its CRC-32 is " + Hex32(fault.found) + L", not " + Hex32(fault.expected);
      break;
    case FaultKind::kBaseUnreadable:
      reason = L": cannot be read";
      break;
    case FaultKind::kBadDelta:
      reason = L": the patch's delta is damaged or out of bounds";
      break;
    case FaultKind::kResultDiffers:
      reason = L": the file rebuilt has the CRC-32 " + Hex32(fault.found) + L", not " + Hex32(fault.expected);
      break;
    case FaultKind::kCannotStage:
      reason = L": cannot be replaced or written (a folder or a read-only file in the way, a file in use, a full disk)";
      break;
    case FaultKind::kCannotCommit:
      return L"the update could not move the files into place and was undone";
    case FaultKind::kLocked:
      return L"another update of the game's folder is running";
    case FaultKind::kThroughLink:
      reason = L": a folder on its way is a link, which would lead out of the game's folder";
      break;
  }
  return fault.path + reason;
}

}  // namespace applier
