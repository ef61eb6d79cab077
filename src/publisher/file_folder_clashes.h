// Finds records whose paths need a file and a folder of one name, such as
// ".\zz" and ".\zz\y": no file system holds both, so apply mode always
// fails on the second (a folder stands where a file is to go, or a file
// where a folder is to be made), whatever the game's folder holds.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace publisher {

class FileFolderClashes {
 public:
  // The earlier record that `packagePath` clashes with: one whose file is a
  // folder of this path, or whose folders hold this path's file. Names
  // compare as Windows compares them, without regard to letter case.
  struct Earlier {
    long offset;
    std::wstring path;
  };

  // Notes the file of the record at `offset` and the folders above it;
  // returns the first earlier record it clashes with, if any.
  std::optional<Earlier> Add(long offset, const std::wstring& packagePath);

 private:
  std::map<std::wstring, Earlier> files_;    // by the folded path
  std::map<std::wstring, Earlier> folders_;  // by the folded path, the first record below each
};

}  // namespace publisher
