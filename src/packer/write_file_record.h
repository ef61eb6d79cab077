// The record writer: one FileRecord per source file.
#pragma once

#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace packer {

enum class RecordResult {
  kWritten,        // the whole record is in the package
  kSkipped,        // the file was left out; nothing was written
  kPackageBroken,  // part of a record is in the package: it must be discarded
};

// Appends the record of the file at `sourcePath`: the tag "file", its path
// relative to g_sourceRoot, its three times and its content as one zlib
// stream. kSkipped, with nothing written, when the file cannot be
// identified, is the package's own file, lies outside g_sourceRoot, or its
// times or its content cannot be read. kPackageBroken when a write fails,
// the carrier would reach package::kMaxCarrierSize, or the content cannot
// be read or compressed after the head has been written.
RecordResult WriteFileRecord(std::FILE* package, const std::wstring& sourcePath);

// Reads the creation, last-access and last-write times of the file at
// `path`, before its content is read. False when they cannot be read.
bool ReadSourceFileTimes(const std::wstring& path, platform::FileTimes& times);

// Writes one PackagePath: the count of UTF-16 units (u16) and the units,
// little-endian, with no terminator. False when a write fails or the path
// has more units than a u16 counts.
bool WritePackagePath(std::FILE* package, const std::wstring& path);

}  // namespace packer
