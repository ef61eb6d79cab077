// What a record must meet in the game folder before anything is staged for
// it: a path that stays inside, a destination that can be replaced, and for
// a delta or a removal the very file that the patch was made from. The
// update and the publisher's --check ask the same questions here, so that
// --check answers as the update would.
#pragma once

#include <string>

#include "applier/update_fault.h"
#include "package/record_reader.h"
#include "platform/platform.h"
#include "platform/unique_file.h"

namespace applier {

struct DestinationCheck {
  bool ok = false;
  std::wstring destination;  // the install directory joined with the path, once that fits
  platform::Occupant occupant = platform::Occupant::kNothing;  // what stands at the destination
  bool baseMissing = false;  // a removal whose file is already gone: nothing to do
  platform::UniqueFile base;  // a delta's old file, open and checked, when `ok`
};

// Finds links on the way from the install directory to a destination.
// Records of one folder mostly come together: it remembers the last folder
// found free of links, so that each folder is looked at once.
class LinkProbe {
 public:
  // True when a folder between `installDir` and `destination` (which was
  // joined to it) is a link, which would lead out of the install
  // directory. The install directory itself may be reached through one.
  bool ReachesThroughLink(const std::wstring& installDir, const std::wstring& destination);

 private:
  std::wstring linkFreeFolder_;
};

// Checks the record whose head was read as `kind` (kFile, kDelta or
// kRemoval) against `installDir`, in the order the update needs them: the
// path, the folders on the way (`links`), the old file a delta or a removal
// names, and whether the destination can be replaced. On failure `fault`
// receives why, with the record's path. The game folder is only read.
DestinationCheck CheckDestination(const std::wstring& installDir, const package::RecordHead& head,
                                  package::RecordKind kind, LinkProbe& links, UpdateFault& fault);

}  // namespace applier
