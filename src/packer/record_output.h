// Where the bytes of a record go: straight into the package, or to a buffer
// that is copied into it later in the walk's order.
#pragma once

#include <cstddef>
#include <cstdio>

namespace packer {

class RecordOutput {
 public:
  virtual ~RecordOutput() = default;
  // Appends `count` bytes; false when they could not all be kept.
  virtual bool Write(const void* bytes, std::size_t count) = 0;
};

// Writes to the package stream itself, within the carrier's size limit
// (WriteToPackage).
class PackageStreamOutput : public RecordOutput {
 public:
  explicit PackageStreamOutput(std::FILE* package) : package_(package) {}
  bool Write(const void* bytes, std::size_t count) override;

 private:
  std::FILE* package_;
};

}  // namespace packer
