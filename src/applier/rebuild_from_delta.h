// Rebuilding a file from the version the game folder holds and a delta
// record's instructions: one more way to stage a file, beside inflating a
// whole one.
#pragma once

#include <cstdint>
#include <cstdio>

#include "package/record_reader.h"

namespace applier {

// How an existing file compares with the one a record names.
enum class BaseCheck {
  kMatches,
  kSizeDiffers,     // `found` holds its size
  kContentDiffers,  // same size, another CRC-32: `found` holds the CRC
  kUnreadable,      // a read failed
};

// Reads `file` forward from its start to its end once, in StreamChunkSize
// steps, and compares its size and CRC-32 with `expected`. `found`
// receives the size or the CRC that differs (see BaseCheck).
BaseCheck CheckFile(std::FILE* file, const package::FileCheck& expected, std::uint64_t& found);

enum class RebuildResult {
  kRebuilt,          // the new file is written whole, with the size and CRC-32 named
  kBadInstructions,  // the instructions are damaged, cut short or out of bounds
  kResultDiffers,    // the file built has another CRC-32 than the record names
  kReadFailed,       // reading the old file failed
  kWriteFailed,      // writing the new file failed (a full disk)
};

// Rebuilds into `output` the new file of the delta record whose head is
// `head`, from `oldFile` (already checked against head.oldFile) and the
// instructions at the package stream's position, which then stands on the
// next record. Memory stays the same whatever the sizes: one inflater, and
// a chunk of the old file at a time, read forward with a seek only where
// an instruction moves. `builtCrc`, when given, receives the CRC-32 of the
// file built, once every instruction was read.
RebuildResult RebuildFromDelta(std::FILE* package, const package::RecordHead& head, std::FILE* oldFile,
                               std::FILE* output, std::uint32_t* builtCrc = nullptr);

}  // namespace applier
