// The byte layout of a package, the payload that pack mode appends to a
// carrier file and apply mode reads back from the end of its own file.
//
//   package  = FileRecord* PackageTrailer
//   FileRecord (n = unit count, offsets from the record's first byte):
//     0       4   RecordTag "file" (66 69 6C 65), no terminator
//     4       2   n, u16
//     6       2n  PackagePath: n UTF-16LE units, no terminator, e.g. ".\data\x.dat"
//     6+2n    8   creation time     } FILETIME, u64: 100 ns intervals since
//     14+2n   8   last access time  } 1601-01-01 UTC
//     22+2n   8   last write time   }
//     30+2n   m   one zlib stream (RFC 1950); m is stored nowhere
//   PackageTrailer, the last 8 bytes of the carrier:
//     0       4   RecordTag "feof" (66 65 6F 66)
//     4       4   payload length L, u32: the bytes of all FileRecords
//
// All integers are little-endian, with no padding. The package has no header:
// a reader finds it L + 8 bytes before the end of the carrier. Tags compare
// as exact bytes, so "FILE" is no tag.
#pragma once

#include <cstddef>
#include <cstdint>

namespace package {

constexpr std::size_t kTagSize = 4;
using RecordTag = char[kTagSize];

constexpr RecordTag kFileTag = {'f', 'i', 'l', 'e'};
constexpr RecordTag kEndTag = {'f', 'e', 'o', 'f'};

constexpr std::size_t kUnitCountSize = 2;
constexpr std::size_t kFileTimeSize = 8;
constexpr std::size_t kTrailerSize = kTagSize + 4;

// Bytes of a record before its zlib stream, for a path of `units` units.
constexpr std::size_t RecordHeadSize(std::size_t units) {
  return kTagSize + kUnitCountSize + 2 * units + 3 * kFileTimeSize;
}

// Input and output buffer size of every deflate and inflate loop.
constexpr std::size_t StreamChunkSize = 1024;

// Positions in a carrier are 32-bit signed offsets, so a carrier, program
// and package together, must stay below 2 GiB.
constexpr std::uint64_t kMaxCarrierSize = 0x80000000u;

}  // namespace package
