// The record writer: one FileRecord per source file.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "packer/record_output.h"
#include "platform/platform.h"

namespace packer {

enum class RecordResult {
  kWritten,        // the whole record is in the package
  kSkipped,        // the file was left out; nothing was written
  kPackageBroken,  // part of a record is in the package: it must be discarded
};

// Why a file was left out (RecordResult::kSkipped).
enum class LeftOutBecause {
  kNothing,           // not left out
  kCannotBeRead,      // missing, a dangling link, not a regular file, or no read access
  kTimesUnreadable,   // its times cannot be read
  kOutsideTheRoot,    // it does not lie below the source root
  kIsThePackage,      // the package is being written to it
};

struct RecordOutcome {
  RecordResult result = RecordResult::kWritten;
  LeftOutBecause why = LeftOutBecause::kNothing;
};

// Writes the record of the file at `sourcePath` to `output`: the tag
// "file", its path relative to `sourceRoot`, its three times and its
// content as one zlib stream. kSkipped, with nothing written and the reason
// in `why`, when the file cannot be identified, is the file `package`
// identifies, lies outside `sourceRoot`, or its times or content cannot be
// opened. kPackageBroken when the output refuses a write, or the content
// cannot be read or compressed after the head has been written. Touches no
// shared state, so that several files can be written at once.
RecordOutcome WriteFileRecordTo(RecordOutput& output, const std::wstring& sourceRoot, const std::wstring& sourcePath,
                                const std::optional<platform::FileIdentity>& package);

// Appends the record of the file at `sourcePath` to the package stream,
// relative to g_sourceRoot (WriteFileRecordTo). kPackageBroken too when the
// carrier would reach package::kMaxCarrierSize.
RecordResult WriteFileRecord(std::FILE* package, const std::wstring& sourcePath);

// Reads the creation, last-access and last-write times of the file at
// `path`, before its content is read. False when they cannot be read.
bool ReadSourceFileTimes(const std::wstring& path, platform::FileTimes& times);

// Appends one PackagePath to `head`: the count of UTF-16 units (u16) and
// the units, little-endian, with no terminator. False, with nothing
// appended, when the path has more units than a u16 counts.
bool WritePackagePath(std::vector<unsigned char>& head, const std::wstring& path);

}  // namespace packer
