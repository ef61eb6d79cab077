// The record walk of apply mode: every record of a located package, staged
// in order, then committed together.
#pragma once

#include <cstdio>
#include <string>

#include "applier/apply_next_record.h"
#include "applier/update.h"

namespace applier {

// Calls `applyNext` on the package stream, record after record, while the
// stream is not at end-of-file, until it returns 0 (a failed record) or -1
// (the trailer). The step is a parameter so that a caller can look at each
// record before and after it is staged; the fuzz target does.
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

// Applies the records from the stream's position up to the trailer to
// `installDir`: all are staged, then committed. Returns false when a record
// fails or the commit does; the install directory is then as it was, and
// `fault` says why.
inline bool ApplyRecords(std::FILE* package, const std::wstring& installDir, UpdateFault& fault) {
  Update update(installDir);
  const bool staged =
      WalkRecords(package, [&update](std::FILE* stream) { return ApplyNextRecord(stream, update); });
  const bool applied = staged && update.Commit();
  fault = update.fault();
  return applied;
}

}  // namespace applier
