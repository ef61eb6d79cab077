// The file a record is inflated into before it replaces its destination,
// so that a failed extraction never touches the destination.
#pragma once

#include <cstdio>
#include <string>

#include "platform/unique_file.h"

namespace applier {

// "<destination>.quorvane-partial" in the destination's folder (or, when a
// file of that name is in the way, "...-1" up to "...-9"). It is created
// new, so no existing file is ever opened, and it is removed again on every
// path that does not end with it moved over the destination.
class PartialFile {
 public:
  PartialFile() = default;
  ~PartialFile();
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  // Creates the partial file for `destination`, with any directories that
  // its folder lacks. False when every name is taken, the name would not
  // fit in kMaxPath units, or the file cannot be created.
  bool Create(const std::wstring& destination);

  // The open partial file, for writing; valid after Create succeeded.
  std::FILE* stream() const { return stream_.get(); }

  // Writes the partial file through to the disk, closes it and moves it
  // over the destination. False when any of that fails: a full disk, or a
  // destination that is a directory, read-only or in use.
  bool ReplaceDestination();

 private:
  std::wstring destination_;
  std::wstring path_;  // the partial file while it exists and is ours
  platform::UniqueFile stream_;
};

}  // namespace applier
