// The delta decoder of apply mode: the package layer's instruction reader
// checks every triple; this side reads the old file where a copy points and
// writes the new file, keeping the CRC-32 of what it wrote.
#include "applier/rebuild_from_delta.h"

#include <zlib.h>

#include "package/delta_instructions.h"
#include "package/layout.h"

namespace applier {
namespace {

// Seeks to an absolute offset below kMaxDeltaFileSize, which fits a long.
bool SeekTo(std::FILE* file, std::uint64_t offset) {
  return std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0;
}

class FileTarget final : public package::DeltaTarget {
 public:
  FileTarget(std::FILE* oldFile, std::FILE* output) : oldFile_(oldFile), output_(output) {}

  bool Copy(std::uint64_t oldOffset, const unsigned char* differences, std::size_t count) override {
    if (oldOffset != oldPosition_ && !SeekTo(oldFile_, oldOffset)) return Failed(RebuildResult::kReadFailed);
    oldPosition_ = oldOffset;
    unsigned char bytes[package::StreamChunkSize];
    while (count > 0) {
      const std::size_t step = count < sizeof bytes ? count : sizeof bytes;
      if (std::fread(bytes, 1, step, oldFile_) != step) return Failed(RebuildResult::kReadFailed);
      oldPosition_ += step;
      for (std::size_t i = 0; i < step; ++i) bytes[i] = static_cast<unsigned char>(bytes[i] + differences[i]);
      if (!Insert(bytes, step)) return false;
      differences += step;
      count -= step;
    }
    return true;
  }

  bool Insert(const unsigned char* bytes, std::size_t count) override {
    if (std::fwrite(bytes, 1, count, output_) != count) return Failed(RebuildResult::kWriteFailed);
    crc_ = crc32(crc_, bytes, static_cast<uInt>(count));
    return true;
  }

  std::uint32_t crc() const { return static_cast<std::uint32_t>(crc_); }
  RebuildResult failure() const { return failure_; }

 private:
  bool Failed(RebuildResult failure) {
    failure_ = failure;
    return false;
  }

  std::FILE* oldFile_;
  std::FILE* output_;
  std::uint64_t oldPosition_ = 0;  // where the next read of the old file starts
  uLong crc_ = crc32(0, Z_NULL, 0);
  RebuildResult failure_ = RebuildResult::kWriteFailed;
};

}  // namespace

BaseCheck CheckFile(std::FILE* file, const package::FileCheck& expected, std::uint64_t& found) {
  if (std::fseek(file, 0, SEEK_SET) != 0) return BaseCheck::kUnreadable;
  unsigned char bytes[package::StreamChunkSize];
  std::uint64_t size = 0;
  uLong crc = crc32(0, Z_NULL, 0);
  for (;;) {
    const std::size_t read = std::fread(bytes, 1, sizeof bytes, file);
    size += read;
    crc = crc32(crc, bytes, static_cast<uInt>(read));
    if (read < sizeof bytes) break;
  }
  if (std::ferror(file)) return BaseCheck::kUnreadable;
  if (size != expected.size) {
    found = size;
    return BaseCheck::kSizeDiffers;
  }
  if (static_cast<std::uint32_t>(crc) != expected.crc) {
    found = static_cast<std::uint32_t>(crc);
    return BaseCheck::kContentDiffers;
  }
  return BaseCheck::kMatches;
}

RebuildResult RebuildFromDelta(std::FILE* package, const package::RecordHead& head, std::FILE* oldFile,
                               std::FILE* output, std::uint32_t* builtCrc) {
  // The old file is read from its start, so the first copy needs no seek.
  if (!SeekTo(oldFile, 0)) return RebuildResult::kReadFailed;
  FileTarget target(oldFile, output);
  switch (package::ReadDeltaInstructions(package, head, target)) {
    case package::DeltaResult::kComplete:
      if (builtCrc != nullptr) *builtCrc = target.crc();
      return target.crc() == head.newFile.crc ? RebuildResult::kRebuilt : RebuildResult::kResultDiffers;
    case package::DeltaResult::kTargetFailed:
      return target.failure();
    default:
      return RebuildResult::kBadInstructions;
  }
}

}  // namespace applier
