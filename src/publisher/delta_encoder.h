// The search for what a new file shares with its old version, which makes
// the instructions of a delta record (layout in package/layout.h).
#pragma once

#include <vector>

namespace publisher {

// A delta's instructions, not yet compressed: the three streams of the
// layout.
struct DeltaInstructions {
  std::vector<unsigned char> control;      // triples of copy length, insert length and seek
  std::vector<unsigned char> differences;  // of every copy, in order, as runs
  std::vector<unsigned char> insertions;   // of every triple, in order
};

// The instructions that rebuild `newData` from `oldData`; none for an empty
// `newData`. Both files are held whole, with a suffix array of the old one
// (four bytes a byte); each must be at most package::kMaxDeltaFileSize.
DeltaInstructions EncodeDeltaInstructions(const std::vector<unsigned char>& oldData,
                                          const std::vector<unsigned char>& newData);

}  // namespace publisher
