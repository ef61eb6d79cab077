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

struct RecordPeek {
  bool isFileRecord = false;  // the tag is "file"
  // The install directory joined with the record's path; empty when the
  // path is empty, cut short or does not join.
  std::wstring destination;
  // The whole inflated content, when the record's zlib stream ends within
  // the carrier; nothing when it is damaged or cut short.
  std::optional<std::string> content;
  long streamEnd = -1;  // carrier offset right after the zlib stream, with `content`
};

// Reads the tag and, for a "file" record, the path (with the package reader's
// ReadPackagePath) at the stream's position, then seeks back there. The
// seek clears end-of-file, which the record walk has tested as clear before
// each record, so the stream is left as the walk had it.
RecordPeek PeekRecord(std::FILE* package, const std::uint8_t* carrier, std::size_t carrierSize,
                      const std::wstring& installDir);

}  // namespace fuzz
