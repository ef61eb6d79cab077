// The compression of one source file into the package as one zlib stream.
#pragma once

#include <cstdio>
#include <string>

#include "package/layout.h"
#include "packer/deflate_stream.h"
#include "packer/record_output.h"
#include "platform/unique_file.h"

namespace packer {

// Two stages, so that the record head can be written between them: Start
// writes nothing, so a file that cannot be opened leaves no trace in the
// package; Run writes the whole stream right after the head. The source
// and the deflate state are released when the object goes out of scope.
class CompressFileToPackage {
 public:
  // Opens the source "rb" and sets up the deflate state. True on success;
  // false with nothing written and nothing left open.
  bool Start(RecordOutput& output, const std::wstring& sourcePath);

  // Compresses the whole source to the output in 1024-byte steps and
  // finishes the stream. True when the whole stream was written. False on
  // a read error of the source, a deflate error, or a write that the output
  // refused (for the package itself: a failed write, or a stream that would
  // make the carrier reach package::kMaxCarrierSize); the output then holds
  // part of a record and must be discarded.
  bool Run();

 private:
  // Writes what the output buffer holds and makes it empty again.
  bool FlushOutput();

  RecordOutput* destination_ = nullptr;
  platform::UniqueFile source_;
  DeflateStream deflater_;
  unsigned char input_[package::StreamChunkSize];
  unsigned char output_[package::StreamChunkSize];
};

}  // namespace packer
