// The records that an update patch carries besides whole files: a changed
// file as a delta against the version players have, and a removal of a file
// the new release no longer has (layouts in package/layout.h). Each record is
// built whole into memory, so that files can be encoded on several threads
// at once and their records written in order afterwards.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace publisher {

enum class ChangedFileEncoding {
  kDelta,      // a "dlta" record against the old file
  kWholeFile,  // a "file" record, byte for byte what pack mode writes
};

// Appends to `out` the record that turns the file at `oldPath` into the one
// at `newPath`, stored under `packagePath` (".\" and "\" between components,
// as pack mode stores paths) with the new file's three times: a delta record
// against the old file, or a whole-file record where the delta would not be
// smaller or a file is too large for a delta (package::kMaxDeltaFileSize).
// `encoding`, when given, receives which of the two was written.
// Returns false, with `out` as it was, when either file or the new file's
// times cannot be read, or the path is empty or has more than 65,535 units.
bool EncodeChangedFileRecord(const std::wstring& oldPath, const std::wstring& newPath,
                             const std::wstring& packagePath, std::vector<unsigned char>& out,
                             ChangedFileEncoding* encoding = nullptr);

// Appends to `out` the record that removes the file stored under
// `packagePath`, naming the size and CRC-32 of the file at `oldPath` so that
// players' copies that differ from it are not removed. Folders that the
// removals leave empty go with them: the applier removes each one, up to the
// game folder, so the package names no folders. Returns false, with `out` as it
// was, when the old file cannot be read or the path is empty or too long.
bool EncodeRemovalRecord(const std::wstring& oldPath, const std::wstring& packagePath,
                         std::vector<unsigned char>& out);

// Appends to `out` a delta record under `packagePath` with `times` that
// rebuilds `newContent` from `oldContent`, whether or not it is smaller
// than the whole file. Both must be at most package::kMaxDeltaFileSize and
// the path must fit a record (as above); false, with `out` holding part of
// the record, when zlib fails.
bool AppendDeltaRecord(const std::wstring& packagePath, const platform::FileTimes& times,
                       const std::vector<unsigned char>& oldContent,
                       const std::vector<unsigned char>& newContent, std::vector<unsigned char>& out);

}  // namespace publisher
