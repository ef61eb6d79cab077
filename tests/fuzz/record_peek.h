// A look at the record that the package stream stands on, taken before the
// applier reads it, with the record's stream inflated independently of the
// applier from the carrier's bytes in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "package/layout.h"

namespace fuzz {

enum class PeekKind { kOther, kFile, kDelta, kRemoval };

struct RecordPeek {
  PeekKind kind = PeekKind::kOther;  // by the tag alone
  // The install directory joined with the record's path; empty when the
  // path is empty, cut short or does not join.
  std::wstring destination;
  // The whole inflated content of a "file" record, when its zlib stream
  // ends within the carrier; nothing when it is damaged or cut short.
  std::optional<std::string> content;
  // A delta record's three streams inflated, when each ends exactly at the
  // length the record gives it, within the carrier.
  std::string deltaStreams[package::kDeltaStreamCount];
  bool deltaWhole = false;
  // Carrier offset right after the record: after the zlib stream, with
  // `content`; after the three streams, with `deltaWhole`; after a whole
  // removal.
  long streamEnd = -1;
  long streamStart = -1;  // carrier offset of a file record's zlib stream or a delta's first stream
  // The sizes and CRC-32s that a delta or a removal names, read here from
  // the carrier's bytes, when the record holds them whole.
  std::uint64_t oldSize = 0;
  std::uint32_t oldCrc = 0;
  std::uint64_t newSize = 0;
  std::uint32_t newCrc = 0;
  bool checksRead = false;
};

// What a delta's streams (inflated) build from `old`, by a plain reading of
// the layout over whole buffers, independent of the package reader; nothing
// when an instruction reaches outside the old file or past `newSize`, a
// triple is cut short, the triples go on after the new size or end short of
// it, or the differences or inserted bytes are not exactly what the triples
// take. With `old` null, only `oldSize` is used and nothing is built.
std::optional<std::string> ReferenceRebuild(const std::string (&streams)[package::kDeltaStreamCount],
                                            const std::string* old, std::uint64_t oldSize, std::uint64_t newSize);

std::uint32_t Crc32Of(const std::string& bytes);

// Reads the tag and, for a "file", a delta or a removal record, the path
// (with the package reader's ReadPackagePath) at the stream's position,
// then seeks back there. The
// seek clears end-of-file, which the record walk has tested as clear before
// each record, so the stream is left as the walk had it.
RecordPeek PeekRecord(std::FILE* package, const std::uint8_t* carrier, std::size_t carrierSize,
                      const std::wstring& installDir);

}  // namespace fuzz
