// Where the walk hands each file: a writer that packs the files one after
// the other, or (natively) several at once, always writing the records in
// the order the files were handed over.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

#include "packer/write_file_record.h"

namespace packer {

class RecordSink {
 public:
  virtual ~RecordSink() = default;

  // Packs the file at `sourcePath` as the next record, now or later. False
  // once the package cannot be written whole; the walk stops there.
  virtual bool Add(const std::wstring& sourcePath) = 0;
  // Writes every record still pending. False when the package cannot be
  // written whole.
  virtual bool Finish() = 0;

  // How many files handed over so far were left out of the package.
  std::size_t filesLeftOut() const { return filesLeftOut_; }

 protected:
  // Traces why the file at `sourcePath` was left out, in the order of the
  // records, and counts it, unless it is the package's own file, which no
  // patch can hold.
  void NoteLeftOut(const std::wstring& sourcePath, LeftOutBecause why);

 private:
  std::size_t filesLeftOut_ = 0;
};

// The record writer that this build packs with, writing to `package`
// relative to g_sourceRoot: the Windows program packs one file after the
// other, the native program on as many workers as SetPackWorkers allows.
std::unique_ptr<RecordSink> MakeRecordSink(std::FILE* package);

}  // namespace packer
