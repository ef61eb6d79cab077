// What a record must meet in the game folder before anything is staged for
// it: a path that stays inside, a destination that can be replaced, and for
// a delta or a removal the very file that the patch was made from. The
// update and the publisher's --check ask the same questions here, so that
// --check answers as the update would.
#pragma once

#include <string>

#include "applier/update_fault.h"
#include "package/record_reader.h"
#include "platform/unique_file.h"

namespace applier {

struct DestinationCheck {
  bool ok = false;
  std::wstring destination;  // the install directory joined with the path, once that fits
  bool baseMissing = false;  // a removal whose file is already gone: nothing to do
  platform::UniqueFile base;  // a delta's old file, open and checked, when `ok`
};

// Checks the record whose head was read as `kind` (kFile, kDelta or
// kRemoval) against `installDir`. On failure `fault` receives why, with the
// record's path. The game folder is only read.
DestinationCheck CheckDestination(const std::wstring& installDir, const package::RecordHead& head,
                                  package::RecordKind kind, UpdateFault& fault);

}  // namespace applier
