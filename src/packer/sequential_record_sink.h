// The record writer that packs each file when the walk hands it over.
#pragma once

#include <optional>

#include "packer/record_sink.h"

namespace packer {

class SequentialRecordSink : public RecordSink {
 public:
  explicit SequentialRecordSink(std::FILE* package);
  bool Add(const std::wstring& sourcePath) override;
  bool Finish() override { return true; }

 private:
  PackageStreamOutput output_;
  std::optional<platform::FileIdentity> package_;
};

}  // namespace packer
