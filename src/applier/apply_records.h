// The record walk of apply mode: every record of a located package, in order.
#pragma once

#include <cstdio>

#include "applier/apply_next_record.h"

namespace applier {

// Calls `applyNext` on the package stream, record after record, while the
// stream is not at end-of-file, until it returns 0 (a failed record) or -1
// (the trailer). The step is a parameter so that a caller can look at each
// record before and after ApplyNextRecord applies it; the fuzz target does.
// Returns false at the first failed record, true otherwise.
template <typename ApplyNext>
bool WalkRecords(std::FILE* package, ApplyNext&& applyNext) {
  while (!std::feof(package)) {
    const int result = applyNext(package);
    if (result == 0) return false;
    if (result < 0) break;
  }
  return true;
}

// Applies the records from the stream's position up to the trailer.
// Returns false at the first record that fails; the records before it stay
// applied.
inline bool ApplyRecords(std::FILE* package) { return WalkRecords(package, ApplyNextRecord); }

}  // namespace applier
