// Reading a delta record's instructions (layout in package/layout.h): the
// one reader that apply mode, the listing and the verifier share, so that
// what is checked before use is checked alike everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "package/record_reader.h"

namespace package {

// Receives what a delta's instructions build, in order, each piece already
// checked against the sizes the record names.
class DeltaTarget {
 public:
  // `count` bytes of the old file from `oldOffset` on, each plus the byte
  // of `differences` at the same place, modulo 256. oldOffset + count never
  // passes the old size. False stops the reading (a failed read or write).
  virtual bool Copy(std::uint64_t oldOffset, const unsigned char* differences, std::size_t count) = 0;
  // `count` new bytes as they are. False stops the reading.
  virtual bool Insert(const unsigned char* bytes, std::size_t count) = 0;

 protected:
  ~DeltaTarget() = default;
};

enum class DeltaResult {
  kComplete,          // every instruction was read and the new size reached
  kTooLarge,          // a size in the head passes kMaxDeltaFileSize
  kCopyPastNewSize,   // a copy would write past the new size
  kCopyPastOldEnd,    // a copy would read past the old file's end
  kInsertPastNewSize, // an insertion would write past the new size
  kSeekOutside,       // a seek would move before the old file's start or past its end
  kTrailingData,      // a stream holds more after the new size was reached
  kEndsInside,        // a stream ends before the triples are done with it
  kShortOfNewSize,    // the triples end before the new size is reached
  kDamaged,           // zlib rejected a stream or its Adler-32, or a stream's end is not at its length
  kCutShort,          // the package ended inside a stream
  kTargetFailed,      // the target refused a piece
};

// Reads the instructions of the delta record whose head is `head`, whose
// three streams start at the package stream's position, and hands what
// they build to `target` in pieces of at most StreamChunkSize bytes,
// checking every length and offset against the sizes in the head before it
// is used. On kComplete the package stream stands on the next tag, right
// after the last stream; otherwise anywhere. CRC-32s are left to the
// target, which alone sees the bytes built.
DeltaResult ReadDeltaInstructions(std::FILE* package, const RecordHead& head, DeltaTarget& target);

}  // namespace package
