// A look at the record that the package stream stands on, taken before the
// applier reads it, with the record's stream inflated independently of the
// applier from the carrier's bytes in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace fuzz {

enum class PeekKind { kOther, kFile, kDelta, kRemoval };

struct RecordPeek {
  PeekKind kind = PeekKind::kOther;  // by the tag alone
  // The install directory joined with the record's path; empty when the
  // path is empty, cut short or does not join.
  std::wstring destination;
  // The whole inflated content, when the record's zlib stream ends within
  // the carrier; nothing when it is damaged or cut short. For a delta
  // record, its instructions.
  std::optional<std::string> content;
  long streamEnd = -1;  // carrier offset right after the zlib stream, with `content`; after a whole removal
  long streamStart = -1;  // carrier offset of a file or delta record's zlib stream
  // The sizes and CRC-32s that a delta or a removal names, read here from
  // the carrier's bytes, when the record holds them whole.
  std::uint64_t oldSize = 0;
  std::uint32_t oldCrc = 0;
  std::uint64_t newSize = 0;
  std::uint32_t newCrc = 0;
  bool checksRead = false;
};

// What a delta's instructions build from `old`, by a plain reading of the
// layout over whole buffers, independent of the package reader; nothing
// when an instruction reaches outside the old file or past `newSize`, the
// instructions end inside a triple, go on after the new size or end short
// of it. With `old` null, only `oldSize` is used and the bytes copied are
// zeros.
std::optional<std::string> ReferenceRebuild(const std::string& instructions, const std::string* old,
                                            std::uint64_t oldSize, std::uint64_t newSize);

std::uint32_t Crc32Of(const std::string& bytes);

// Reads the tag and, for a "file", a delta or a removal record, the path
// (with the package reader's ReadPackagePath) at the stream's position,
// then seeks back there. The
// seek clears end-of-file, which the record walk has tested as clear before
// each record, so the stream is left as the walk had it.
RecordPeek PeekRecord(std::FILE* package, const std::uint8_t* carrier, std::size_t carrierSize,
                      const std::wstring& installDir);

}  // namespace fuzz
