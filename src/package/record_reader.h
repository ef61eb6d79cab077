// Reading a package's records: the one reader of the format, used by apply
// mode and by every tool that looks into a package.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "package/layout.h"
#include "platform/platform.h"

namespace package {

// A file as a delta or a removal names it: its size and CRC-32.
struct FileCheck {
  std::uint64_t size = 0;
  std::uint32_t crc = 0;
  bool operator==(const FileCheck& other) const { return size == other.size && crc == other.crc; }
};

// What a record carries before its zlib stream, or whole for a removal.
struct RecordHead {
  std::wstring path;  // as stored, with units of value 0 left out
  platform::FileTimes times;  // "file" and "dlta" records
  FileCheck oldFile;          // "dlta" and "remv" records: the file replaced or removed
  FileCheck newFile;          // "dlta" records: the file rebuilt
  std::array<std::uint32_t, kDeltaStreamCount> streamLengths{};  // "dlta" records, by DeltaStream
};

enum class RecordKind {
  kFile,        // a "file" record; the stream stands on its zlib stream
  kDelta,       // a "dlta" record; the stream stands on its instructions
  kRemoval,     // a "remv" record, read whole
  kEnd,         // the trailer; its payload length has been consumed
  kUnknownTag,  // none of the tags, or a tag cut short
  kEmptyPath,   // a unit count of 0, or only units of value 0
  kCutShort,    // the package ends inside the path, the times or the checks
};

// Reads the record head at the stream's position: the tag and, for a
// "file" record, the path and the three times (creation, last access, last
// write); for a "dlta" record, the path, the times, the old and the new
// file's checks and its streams' lengths; for a "remv" record, the path and
// the old file's check.
// Nothing is read past the head.
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
