// The search for what a new file shares with its old version, which makes
// the instructions of a delta record (layout in package/layout.h).
#pragma once

#include <vector>

namespace publisher {

// The instructions, not yet compressed, that rebuild `newData` from
// `oldData`: triples of copy length, insert length and seek, each followed
// by the copy's differences and the inserted bytes. None for an empty
// `newData`. Both files are held whole, with a suffix array of the old one
// (four bytes a byte); each must be at most package::kMaxDeltaFileSize.
std::vector<unsigned char> EncodeDeltaInstructions(const std::vector<unsigned char>& oldData,
                                                   const std::vector<unsigned char>& newData);

}  // namespace publisher
