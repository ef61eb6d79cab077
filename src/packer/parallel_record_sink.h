// The native record writer that compresses several files at once and
// writes their records in the order the walk handed the files over, so that
// the package holds the same bytes as one written file after file.
#pragma once

#include <optional>
#include <string>

#include "packer/record_sink.h"
#include "publisher/ordered_workers.h"

namespace packer {

class ParallelRecordSink : public RecordSink {
 public:
  // Packs relative to g_sourceRoot on `workers` threads; records that wait
  // for their turn spill, when large, into the package's own folder.
  ParallelRecordSink(std::FILE* package, unsigned workers);
  bool Add(const std::wstring& sourcePath) override;
  bool Finish() override { return workers_.Finish(); }

 private:
  std::FILE* package_;
  const std::wstring sourceRoot_;
  const std::optional<platform::FileIdentity> packageIdentity_;
  // Last, so that the workers stop before what they read goes away.
  publisher::OrderedWorkers workers_;
};

}  // namespace packer
