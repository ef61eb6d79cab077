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
//   DeltaRecord: a file rebuilt from the version the game folder holds
//     0       4   RecordTag "dlta" (64 6C 74 61)
//     4       2   n, u16
//     6       2n  PackagePath, as in a FileRecord
//     6+2n    24  the rebuilt file's three times, as in a FileRecord
//     30+2n   8   old size, u64       } the base: the file it is rebuilt
//     38+2n   4   old CRC-32, u32     } from, checked before it is read
//     42+2n   8   new size, u64       } the result, checked before the
//     50+2n   4   new CRC-32, u32     } file replaces the old one
//     54+2n   4   a, u32: bytes of the control stream
//     58+2n   4   b, u32: bytes of the difference stream
//     62+2n   4   c, u32: bytes of the insertion stream
//     66+2n   a   control stream: one zlib stream of triples
//     66+2n+a b   difference stream: one zlib stream, the copies' differences as runs
//     ..+b    c   insertion stream: one zlib stream, the inserted bytes
//   RemovalRecord: a file the new release no longer has
//     0       4   RecordTag "remv" (72 65 6D 76)
//     4       2   n, u16
//     6       2n  PackagePath, as in a FileRecord
//     6+2n    8   old size, u64       } the file that is removed; a file
//     14+2n   4   old CRC-32, u32     } that differs is not removed
//
// A delta's control stream, inflated, is triples back to back:
//     0       8   copy length c, u64
//     8       8   insert length i, u64
//     16      8   seek s, i64 (two's complement)
// The difference stream, inflated, is runs back to back, which spell out
// the differences of all copies in order:
//     zero count z, then literal count k, each a LEB128 u64 (7 bits a byte,
//     lowest first, the top bit set on all bytes but the last, at most 10)
//     k difference bytes
// z differences of 0, then the k bytes. Together the runs give exactly as
// many differences as the copies take.
// Starting at old offset 0, a triple takes c bytes of the old file from the
// current offset, each plus the next of the differences (modulo 256), then
// the next i inserted bytes, and then moves the old offset by s. The new
// file is what the triples write, in order; it ends after the triple that
// completes the new size, and each of the three streams ends there too, at
// the length the record gives it. Every length and offset is checked
// against the sizes in the head before use: c and i never go past the new
// size, c never past the old file's end, and the offset never before 0 or
// past the end.
//
// Why so: an old release's file usually lives on in the new one as long
// runs that match it except for a few bytes (an offset or a version in
// each entry of a table), with new bytes between the runs. A copy with
// differences covers such a run in one triple, and its differences are
// mostly zeros. Kept apart, each kind of data compresses best: runs of
// zeros among the differences, text among the inserted bytes, numbers in
// the triples (on a program's two releases the three streams came to 7%
// less than one stream of triples with their bytes beside them, on a text
// 15% less). Zeros are counted rather than stored, since deflate shrinks a
// run of them at most about 1,000 to 1: a file of 53 MB with a few changes
// would otherwise carry 50 KB of compressed zeros, and the player's side
// inflate them all. The player's side reads each stream forward, one
// inflater and one chunk of input each, seeking between them in the
// package and in the old file, never holding either: its memory is the
// same whatever the files' sizes. Sizes and CRC-32s of both ends name the base and the
// result, so that a game folder that does not hold the release a patch was
// made from is found before anything is replaced.
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
constexpr RecordTag kDeltaTag = {'d', 'l', 't', 'a'};
constexpr RecordTag kRemovalTag = {'r', 'e', 'm', 'v'};

constexpr std::size_t kUnitCountSize = 2;
constexpr std::size_t kFileTimeSize = 8;
constexpr std::size_t kTrailerSize = kTagSize + 4;

// Bytes of a record before its zlib stream, for a path of `units` units.
constexpr std::size_t RecordHeadSize(std::size_t units) {
  return kTagSize + kUnitCountSize + 2 * units + 3 * kFileTimeSize;
}

// A file's size (u64) and CRC-32 (u32), as a delta or a removal names it.
constexpr std::size_t kFileCheckSize = 8 + 4;

// A delta's three streams, in their order in the record.
enum DeltaStream : std::size_t { kControlStream, kDifferenceStream, kInsertionStream, kDeltaStreamCount };

// Bytes of a delta record before its streams: a record head, the old and
// the new file's checks, and the three streams' lengths (u32 each).
constexpr std::size_t DeltaRecordHeadSize(std::size_t units) {
  return RecordHeadSize(units) + 2 * kFileCheckSize + 4 * kDeltaStreamCount;
}

// Bytes of a removal record, for a path of `units` units.
constexpr std::size_t RemovalRecordSize(std::size_t units) {
  return kTagSize + kUnitCountSize + 2 * units + kFileCheckSize;
}

// Bytes of one triple of a delta's control stream.
constexpr std::size_t kDeltaTripleSize = 24;  // three 8-byte fields

// Most bytes of a LEB128 count in a delta's difference stream.
constexpr std::size_t kMaxRunCountSize = 10;

// Largest old or new file a delta names: the player's side seeks in the old
// file with the 32-bit offsets of the C library, and the publisher's search
// indexes it with 32-bit positions. Larger files travel whole.
constexpr std::uint64_t kMaxDeltaFileSize = 0x7FFFFFFFu;

// Input and output buffer size of every deflate and inflate loop.
constexpr std::size_t StreamChunkSize = 1024;

// Positions in a carrier are 32-bit signed offsets, so a carrier, program
// and package together, must stay below 2 GiB.
constexpr std::uint64_t kMaxCarrierSize = 0x80000000u;

}  // namespace package
