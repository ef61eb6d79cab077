// The delta instruction reader: the loop over triples, each checked whole
// before any of it is used, with the three streams inflated side by side.
// Each stream has its own inflater and input chunk and is read from its own
// place in the package, which the reader seeks to before each chunk, so
// that nothing but the current triple and one chunk per stream is held.
#include "package/delta_instructions.h"

#include <algorithm>
#include <climits>

#include "package/inflate_stream.h"
#include "package/layout.h"

namespace package {
namespace {

std::uint64_t LittleEndian64(const unsigned char* bytes) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

// One of a delta's zlib streams, `length` bytes from `start` in the package.
class StreamCursor {
 public:
  StreamCursor(std::FILE* package, std::uint64_t start, std::uint32_t length)
      : package_(package), next_(start), left_(length) {}

  bool Init() { return inflater_.Init(); }
  bool EndedBeforeRead() const { return endedBeforeRead_; }

  // Inflates exactly `count` bytes into `out`: kComplete, or kEndsInside
  // when the stream ends first (EndedBeforeRead() tells whether it gave
  // none of them), or the stream's fault.
  DeltaResult Read(unsigned char* out, std::size_t count) {
    z_stream& stream = inflater_.get();
    stream.next_out = out;
    stream.avail_out = static_cast<uInt>(count);
    DeltaResult result = DeltaResult::kComplete;
    while (stream.avail_out > 0 && result == DeltaResult::kComplete) {
      if (ended_) {
        endedBeforeRead_ = stream.avail_out == count;
        result = DeltaResult::kEndsInside;
      } else {
        result = Step();
      }
    }
    ForgetOutput();
    return result;
  }

  // After the last read: kComplete when the stream ends there and its end
  // is the end of its length, kTrailingData when it holds more.
  DeltaResult Finish() {
    z_stream& stream = inflater_.get();
    unsigned char probe;
    DeltaResult result = DeltaResult::kComplete;
    while (!ended_ && result == DeltaResult::kComplete) {
      stream.next_out = &probe;
      stream.avail_out = 1;
      result = Step();
      if (result == DeltaResult::kComplete && stream.avail_out == 0) result = DeltaResult::kTrailingData;
    }
    ForgetOutput();
    if (result != DeltaResult::kComplete) return result;
    return stream.avail_in == 0 && left_ == 0 ? DeltaResult::kComplete : DeltaResult::kDamaged;
  }

 private:
  // The output buffer is the caller's and lives no longer than its call.
  void ForgetOutput() {
    inflater_.get().next_out = Z_NULL;
    inflater_.get().avail_out = 0;
  }

  // One call of inflate, fetching input first when it has none.
  DeltaResult Step() {
    z_stream& stream = inflater_.get();
    if (stream.avail_in == 0) {
      // The record's length ends the stream: zlib must have seen its end.
      if (left_ == 0) return DeltaResult::kDamaged;
      const std::size_t size = left_ < sizeof input_ ? static_cast<std::size_t>(left_) : sizeof input_;
      if (next_ > static_cast<std::uint64_t>(LONG_MAX) ||
          std::fseek(package_, static_cast<long>(next_), SEEK_SET) != 0 ||
          std::fread(input_, 1, size, package_) != size) {
        return DeltaResult::kCutShort;
      }
      next_ += size;
      left_ -= size;
      stream.next_in = input_;
      stream.avail_in = static_cast<uInt>(size);
    }
    const int result = inflate(&stream, Z_NO_FLUSH);
    if (result == Z_STREAM_END) {
      ended_ = true;
    } else if (result != Z_OK) {
      return DeltaResult::kDamaged;
    }
    return DeltaResult::kComplete;
  }

  std::FILE* package_;
  std::uint64_t next_;  // package offset of the next input to fetch
  std::uint64_t left_;  // input bytes of the stream not yet fetched
  InflateStream inflater_;
  unsigned char input_[StreamChunkSize] = {};
  bool ended_ = false;
  bool endedBeforeRead_ = false;
};

// The difference stream: zero runs counted, the other bytes as they are.
class DifferenceRuns {
 public:
  DifferenceRuns(std::FILE* package, std::uint64_t start, std::uint32_t length) : stream_(package, start, length) {}

  bool Init() { return stream_.Init(); }

  // The next `count` differences into `out`, as Read does.
  DeltaResult Read(unsigned char* out, std::size_t count) {
    while (count > 0) {
      if (zeros_ == 0 && literals_ == 0) {
        const DeltaResult result = NextRun();
        if (result != DeltaResult::kComplete) return result;
        continue;
      }
      const bool zeros = zeros_ > 0;
      std::uint64_t& left = zeros ? zeros_ : literals_;
      const std::size_t step = left < count ? static_cast<std::size_t>(left) : count;
      if (zeros) {
        std::fill(out, out + step, 0);
      } else {
        const DeltaResult result = stream_.Read(out, step);
        if (result != DeltaResult::kComplete) return result;
      }
      left -= step;
      out += step;
      count -= step;
    }
    return DeltaResult::kComplete;
  }

  // kComplete when the runs end with the last difference taken and the
  // stream ends there.
  DeltaResult Finish() {
    if (zeros_ != 0 || literals_ != 0) return DeltaResult::kTrailingData;
    return stream_.Finish();
  }

 private:
  DeltaResult NextRun() {
    DeltaResult result = Count(zeros_);
    if (result == DeltaResult::kComplete) result = Count(literals_);
    return result;
  }

  // One LEB128 count; kDamaged when it is longer than kMaxRunCountSize
  // bytes or does not fit in 64 bits.
  DeltaResult Count(std::uint64_t& value) {
    value = 0;
    for (std::size_t i = 0; i < kMaxRunCountSize; ++i) {
      unsigned char byte;
      const DeltaResult result = stream_.Read(&byte, 1);
      if (result != DeltaResult::kComplete) return result;
      const std::uint64_t bits = byte & 0x7Fu;
      if (i == kMaxRunCountSize - 1 && bits > 1) return DeltaResult::kDamaged;
      value |= bits << (7 * i);
      if ((byte & 0x80u) == 0) return DeltaResult::kComplete;
    }
    return DeltaResult::kDamaged;
  }

  StreamCursor stream_;
  std::uint64_t zeros_ = 0;
  std::uint64_t literals_ = 0;
};

class DeltaReader {
 public:
  DeltaReader(std::FILE* package, std::uint64_t start, const RecordHead& head, DeltaTarget& target)
      : oldSize_(head.oldFile.size),
        newSize_(head.newFile.size),
        target_(target),
        control_(package, start, head.streamLengths[kControlStream]),
        differences_(package, start + head.streamLengths[kControlStream], head.streamLengths[kDifferenceStream]),
        insertions_(package, start + head.streamLengths[kControlStream] + head.streamLengths[kDifferenceStream],
                    head.streamLengths[kInsertionStream]) {}

  DeltaResult Run() {
    if (!control_.Init() || !differences_.Init() || !insertions_.Init()) return DeltaResult::kDamaged;
    while (written_ < newSize_) {
      unsigned char triple[kDeltaTripleSize];
      DeltaResult result = control_.Read(triple, sizeof triple);
      // The triples may end only where a triple ends.
      if (result == DeltaResult::kEndsInside && control_.EndedBeforeRead()) return DeltaResult::kShortOfNewSize;
      if (result != DeltaResult::kComplete) return result;
      result = Triple(LittleEndian64(triple), LittleEndian64(triple + 8), LittleEndian64(triple + 16));
      if (result != DeltaResult::kComplete) return result;
    }
    DeltaResult result = control_.Finish();
    if (result == DeltaResult::kComplete) result = differences_.Finish();
    if (result == DeltaResult::kComplete) result = insertions_.Finish();
    return result;
  }

 private:
  // Checks one triple against the sizes, every quantity with unsigned
  // arithmetic that cannot wrap, then carries it out.
  DeltaResult Triple(std::uint64_t copy, std::uint64_t insert, std::uint64_t seek) {
    if (copy > newSize_ - written_) return DeltaResult::kCopyPastNewSize;
    if (copy > oldSize_ - oldOffset_) return DeltaResult::kCopyPastOldEnd;
    if (insert > newSize_ - written_ - copy) return DeltaResult::kInsertPastNewSize;
    const std::uint64_t from = oldOffset_ + copy;
    const bool backwards = (seek >> 63) != 0;  // two's complement
    const std::uint64_t distance = backwards ? 0 - seek : seek;
    if (backwards ? distance > from : distance > oldSize_ - from) return DeltaResult::kSeekOutside;

    unsigned char chunk[StreamChunkSize];
    for (std::uint64_t left = copy; left > 0;) {
      const std::size_t step = left < sizeof chunk ? static_cast<std::size_t>(left) : sizeof chunk;
      const DeltaResult result = differences_.Read(chunk, step);
      if (result != DeltaResult::kComplete) return result;
      if (!target_.Copy(oldOffset_, chunk, step)) return DeltaResult::kTargetFailed;
      oldOffset_ += step;
      left -= step;
    }
    for (std::uint64_t left = insert; left > 0;) {
      const std::size_t step = left < sizeof chunk ? static_cast<std::size_t>(left) : sizeof chunk;
      const DeltaResult result = insertions_.Read(chunk, step);
      if (result != DeltaResult::kComplete) return result;
      if (!target_.Insert(chunk, step)) return DeltaResult::kTargetFailed;
      left -= step;
    }
    written_ += copy + insert;
    oldOffset_ = backwards ? from - distance : from + distance;
    return DeltaResult::kComplete;
  }

  const std::uint64_t oldSize_;
  const std::uint64_t newSize_;
  DeltaTarget& target_;
  StreamCursor control_;
  DifferenceRuns differences_;
  StreamCursor insertions_;
  std::uint64_t written_ = 0;
  std::uint64_t oldOffset_ = 0;
};

}  // namespace

DeltaResult ReadDeltaInstructions(std::FILE* package, const RecordHead& head, DeltaTarget& target) {
  if (head.oldFile.size > kMaxDeltaFileSize || head.newFile.size > kMaxDeltaFileSize) {
    return DeltaResult::kTooLarge;
  }
  const long start = std::ftell(package);
  if (start < 0) return DeltaResult::kCutShort;
  const DeltaResult result = DeltaReader(package, static_cast<std::uint64_t>(start), head, target).Run();
  if (result != DeltaResult::kComplete) return result;
  std::uint64_t end = static_cast<std::uint64_t>(start);
  for (const std::uint32_t length : head.streamLengths) end += length;
  // Each stream was read to its length, so the end lies within the package.
  return std::fseek(package, static_cast<long>(end), SEEK_SET) == 0 ? DeltaResult::kComplete : DeltaResult::kCutShort;
}

}  // namespace package
