// The file in the game folder that a delta rebuilds or a removal removes:
// found, opened and checked against the size and CRC-32 that its record
// names, before anything is replaced.
#pragma once

#include <string>

#include "applier/update_fault.h"
#include "package/record_reader.h"
#include "platform/unique_file.h"

namespace applier {

enum class BaseState {
  kMatches,  // the file is there and is the one named
  kMissing,  // nothing of that name is there
  kDiffers,  // something else is there: `fault` says what
};

// Looks at the name `destination` alone, opening nothing: kMissing when
// nothing has that name, kDiffers (kBaseNotAFile) for a folder or a link,
// kMatches for a file, which may still differ in content.
BaseState LookAtBaseFile(const std::wstring& destination, UpdateFault& fault);

// Looks at the file at `destination` and compares it with `expected`,
// reading it forward once. A folder or a link at the destination differs
// (kBaseNotAFile): the old file is never reached through a link. On
// kMatches, `opened` (when given) receives the file, open for reading, for
// a delta to be read from; the check and the rebuild read the same file.
// On kDiffers, `fault` gets the kind, the expected and the found value;
// its path is left to the caller.
BaseState CheckBaseFile(const std::wstring& destination, const package::FileCheck& expected, UpdateFault& fault,
                        platform::UniqueFile* opened = nullptr);

}  // namespace applier
