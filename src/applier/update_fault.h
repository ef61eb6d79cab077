// Why an update failed, as the applier reports it up to the driver, which
// alone tells the user (the native program on standard error, the Windows
// program on the debugger output; the message boxes stay as they are).
#pragma once

#include <cstdint>
#include <string>

namespace applier {

enum class FaultKind : std::uint8_t {
  kNone,
  kBadRecord,         // a record that cannot be read, or a path that no game folder holds
  kBaseMissing,       // the file a delta rebuilds is not there
  kBaseNotAFile,      // a folder or a link stands where the old file should
  kBaseSizeDiffers,   // expected and found are sizes
  kBaseContentDiffers,  // expected and found are CRC-32s
  kBaseUnreadable,    // the old file cannot be read
  kBadDelta,          // a delta's instructions are out of bounds or damaged
  kResultDiffers,     // the file rebuilt is not the one the record names (CRC-32s)
  kCannotStage,       // the destination cannot be replaced, or writing failed
  kCannotCommit,      // moving the staged files into place failed
  kLocked,            // another update of the game folder is running
  kThroughLink,       // a folder on the way is a link, which would lead out of the game folder
};

// The first fault of an update, with the record's path as stored.
struct UpdateFault {
  FaultKind kind = FaultKind::kNone;
  std::wstring path;
  std::uint64_t expected = 0;
  std::uint64_t found = 0;
};

// The fault in words, one line without its end, e.g.
// ".\data\x.dat: not the file this patch was made from: 1200 bytes, not 1234".
std::wstring DescribeUpdateFault(const UpdateFault& fault);

}  // namespace applier
