// Delta and removal records built byte by byte, as a hostile or damaged
// package may hold them, for the tests of every reader of the format.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "package/record_reader.h"
#include "test_files.h"

namespace delta_test {

struct Triple {
  std::uint64_t copy;
  std::uint64_t insert;
  std::int64_t seek;
};

// Instructions from triples, each followed by its bytes: differences of 1
// for a copy, 'i' for an insertion. Lengths of a megabyte or more carry no
// bytes: a reader must refuse them before it looks for any.
Bytes Instructions(std::initializer_list<Triple> triples);

// A "dlta" record with the path, times of 0, the two checks, and
// `instructions` compressed as one zlib stream.
Bytes DeltaRecord(const std::wstring& path, const package::FileCheck& oldFile, const package::FileCheck& newFile,
                  const Bytes& instructions);

// A "remv" record.
Bytes RemovalRecord(const std::wstring& path, const package::FileCheck& oldFile);

std::uint32_t CrcOf(const Bytes& bytes);

}  // namespace delta_test
