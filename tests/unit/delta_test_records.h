// Delta and removal records built byte by byte, as a hostile or damaged
// package may hold them, for the tests of every reader of the format.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <string>

#include "package/record_reader.h"
#include "platform/unique_file.h"
#include "test_files.h"

namespace delta_test {

struct Triple {
  std::uint64_t copy;
  std::uint64_t insert;
  std::int64_t seek;
};

// A delta's three streams before compression, the differences one for
// each byte copied.
struct Instructions {
  Bytes control;
  Bytes differences;
  Bytes insertions;
  std::optional<Bytes> runs;  // the difference stream as it stands, in place of `differences`
};

// Instructions from triples: differences of 1 for every copied byte, 'i'
// for every inserted one. Lengths of a megabyte or more carry no bytes: a
// reader must refuse them before it looks for any.
Instructions InstructionsOf(std::initializer_list<Triple> triples);

// `differences` as the difference stream holds them, all in one run of
// literal bytes (none when there are none).
Bytes AsOneRun(const Bytes& differences);

// A "dlta" record with the path, times of 0, the two checks, and the three
// streams compressed, each as one zlib stream, with their lengths; the
// differences as AsOneRun gives them, unless `runs` are given.
Bytes DeltaRecord(const std::wstring& path, const package::FileCheck& oldFile, const package::FileCheck& newFile,
                  const Instructions& instructions);

// A "remv" record.
Bytes RemovalRecord(const std::wstring& path, const package::FileCheck& oldFile);

std::uint32_t CrcOf(const Bytes& bytes);

// A temporary file holding `bytes`, positioned at its start.
platform::UniqueFile StreamOf(const Bytes& bytes);

// Everything in `stream`, from its start.
Bytes Contents(std::FILE* stream);

}  // namespace delta_test
