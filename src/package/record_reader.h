// Reading a package's records: the one reader of the format, used by apply
// mode and by every tool that looks into a package.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace package {

// What a "file" record carries before its zlib stream.
struct RecordHead {
  std::wstring path;  // as stored, with units of value 0 left out
  platform::FileTimes times;
};

enum class RecordKind {
  kFile,        // a "file" record; the stream stands on its zlib stream
  kEnd,         // the trailer; its payload length has been consumed
  kUnknownTag,  // neither "file" nor "feof", or a tag cut short
  kEmptyPath,   // a unit count of 0, or only units of value 0
  kCutShort,    // the package ends inside the path or the times
};

// Reads the record head at the stream's position: the tag and, for a
// "file" record, the path and the three times (creation, last access, last
// write). Nothing is read past the head.
RecordKind ReadRecordHead(std::FILE* package, RecordHead& head);

// Reads the u16 unit count and that many UTF-16 units. Units of value 0 are
// consumed but left out; the others are taken as they stand. A count of n
// moves the stream on by 2 + 2n bytes when the package holds them.
// Returns the path, or the empty string when the count is 0, every unit is
// 0, or the package ends before the count or a unit could be read whole.
std::wstring ReadPackagePath(std::FILE* package);

// Receives the inflated bytes of one record's stream, chunk by chunk.
class InflateSink {
 public:
  // False stops the inflation (a failed write).
  virtual bool Write(const unsigned char* bytes, std::size_t count) = 0;

 protected:
  ~InflateSink() = default;
};

enum class InflateResult {
  kComplete,    // the whole stream inflated and its Adler-32 matched
  kDamaged,     // zlib rejected the data, or the inflater could not be set up
  kCutShort,    // the package ended before the stream did
  kSinkFailed,  // the sink refused a chunk
};

// Inflates the zlib stream at the stream's position in StreamChunkSize
// steps, hands every chunk to `sink`, and at the stream's end gives back
// the input read past it, so that the package stream stands on the next
// tag (and its end-of-file indicator is clear). On any other result the
// package stream stands wherever reading stopped.
InflateResult InflateRecordStream(std::FILE* package, InflateSink& sink);

}  // namespace package
