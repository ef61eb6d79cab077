// The delta instruction reader: a sink on the record's inflated stream that
// takes triples apart as their bytes arrive, in chunks of any size, so that
// nothing but the current triple is ever held.
#include "package/delta_instructions.h"

#include <algorithm>

#include "package/layout.h"

namespace package {
namespace {

std::uint64_t LittleEndian64(const unsigned char* bytes) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

class InstructionSink final : public InflateSink {
 public:
  InstructionSink(const RecordHead& head, DeltaTarget& target)
      : oldSize_(head.oldFile.size), newSize_(head.newFile.size), target_(target) {}

  bool Write(const unsigned char* bytes, std::size_t count) override {
    while (count > 0) {
      std::size_t used = 0;
      if (copyLeft_ > 0) {
        used = static_cast<std::size_t>(std::min<std::uint64_t>(copyLeft_, count));
        if (!target_.Copy(oldOffset_, bytes, used)) return Fail(DeltaResult::kTargetFailed);
        oldOffset_ += used;
        copyLeft_ -= used;
      } else if (insertLeft_ > 0) {
        used = static_cast<std::size_t>(std::min<std::uint64_t>(insertLeft_, count));
        if (!target_.Insert(bytes, used)) return Fail(DeltaResult::kTargetFailed);
        insertLeft_ -= used;
      } else {
        used = std::min(kDeltaTripleSize - tripleFill_, count);
        std::copy(bytes, bytes + used, triple_ + tripleFill_);
        tripleFill_ += used;
        if (tripleFill_ == kDeltaTripleSize && !StartTriple()) return false;
      }
      bytes += used;
      count -= used;
      // The seek comes once the triple's bytes have all been handed on.
      if (copyLeft_ == 0 && insertLeft_ == 0 && seekPending_) {
        oldOffset_ = seekTarget_;
        seekPending_ = false;
      }
    }
    return true;
  }

  // The result once the stream ended whole.
  DeltaResult Finish() const {
    if (tripleFill_ != 0 || copyLeft_ != 0 || insertLeft_ != 0) return DeltaResult::kEndsInside;
    return written_ == newSize_ ? DeltaResult::kComplete : DeltaResult::kShortOfNewSize;
  }

  DeltaResult fault() const { return fault_; }

 private:
  bool Fail(DeltaResult fault) {
    fault_ = fault;
    return false;
  }

  // Checks the triple just read against the sizes, every quantity with
  // unsigned arithmetic that cannot wrap, before any of it is used.
  bool StartTriple() {
    tripleFill_ = 0;
    if (written_ == newSize_) return Fail(DeltaResult::kTrailingData);
    const std::uint64_t copy = LittleEndian64(triple_);
    const std::uint64_t insert = LittleEndian64(triple_ + 8);
    const std::uint64_t seek = LittleEndian64(triple_ + 16);  // two's complement
    if (copy > newSize_ - written_) return Fail(DeltaResult::kCopyPastNewSize);
    if (copy > oldSize_ - oldOffset_) return Fail(DeltaResult::kCopyPastOldEnd);
    if (insert > newSize_ - written_ - copy) return Fail(DeltaResult::kInsertPastNewSize);
    const std::uint64_t from = oldOffset_ + copy;
    const bool backwards = (seek >> 63) != 0;
    const std::uint64_t distance = backwards ? 0 - seek : seek;
    if (backwards ? distance > from : distance > oldSize_ - from) return Fail(DeltaResult::kSeekOutside);
    seekTarget_ = backwards ? from - distance : from + distance;
    seekPending_ = true;
    copyLeft_ = copy;
    insertLeft_ = insert;
    written_ += copy + insert;
    return true;
  }

  const std::uint64_t oldSize_;
  const std::uint64_t newSize_;
  DeltaTarget& target_;
  unsigned char triple_[kDeltaTripleSize] = {};
  std::size_t tripleFill_ = 0;
  std::uint64_t copyLeft_ = 0;
  std::uint64_t insertLeft_ = 0;
  std::uint64_t oldOffset_ = 0;
  std::uint64_t seekTarget_ = 0;
  bool seekPending_ = false;
  std::uint64_t written_ = 0;  // by the triples read so far, once their bytes are handed on
  DeltaResult fault_ = DeltaResult::kTargetFailed;
};

}  // namespace

DeltaResult ReadDeltaInstructions(std::FILE* package, const RecordHead& head, DeltaTarget& target) {
  if (head.oldFile.size > kMaxDeltaFileSize || head.newFile.size > kMaxDeltaFileSize) {
    return DeltaResult::kTooLarge;
  }
  InstructionSink sink(head, target);
  switch (InflateRecordStream(package, sink)) {
    case InflateResult::kComplete:
      return sink.Finish();
    case InflateResult::kDamaged:
      return DeltaResult::kDamaged;
    case InflateResult::kCutShort:
      return DeltaResult::kCutShort;
    case InflateResult::kSinkFailed:
      break;
  }
  return sink.fault();
}

}  // namespace package
