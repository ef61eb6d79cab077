// The delta encoder. The old file's suffixes, sorted by libdivsufsort, give
// the longest exact match of any new position in the old file. The scan
// over the new file looks for a match that the current alignment (the old
// position that the previous match continues at) does not already explain
// by eight bytes or more; only there does a new triple pay. Between two
// such matches, the bytes just after the previous match and just before
// the next one are copied with differences where at least half of them
// agree with the old file, and the rest is inserted. Files whose versions
// differ by shifted offsets in long tables thus become copies whose
// differences are mostly zeros.
#include "publisher/delta_encoder.h"

#include <divsufsort.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace publisher {
namespace {

using Bytes = std::vector<unsigned char>;

class MatchFinder {
 public:
  explicit MatchFinder(const Bytes& old) : old_(old), suffixes_(old.size()) {
    if (!old.empty()) divsufsort(old.data(), suffixes_.data(), static_cast<saidx_t>(old.size()));
  }

  // The length of the longest prefix of needle[0, size) found in the old
  // file, and in `position` where it starts there; 0 when none is.
  std::int64_t Longest(const unsigned char* needle, std::int64_t size, std::int64_t& position) const {
    // The first suffix not below the needle; the longest common prefix is
    // with it or with the suffix before it.
    std::size_t low = 0;
    std::size_t high = suffixes_.size();
    while (low < high) {
      const std::size_t middle = low + (high - low) / 2;
      if (SuffixBelow(static_cast<std::size_t>(suffixes_[middle]), needle, size)) {
        low = middle + 1;
      } else {
        high = middle;
      }
    }
    std::int64_t best = 0;
    position = 0;
    for (std::size_t index = low == 0 ? 0 : low - 1; index <= low && index < suffixes_.size(); ++index) {
      const std::int64_t length = CommonLength(static_cast<std::size_t>(suffixes_[index]), needle, size);
      if (length > best) {
        best = length;
        position = suffixes_[index];
      }
    }
    return best;
  }

 private:
  bool SuffixBelow(std::size_t start, const unsigned char* needle, std::int64_t size) const {
    const std::size_t suffixSize = old_.size() - start;
    const std::size_t common = std::min(suffixSize, static_cast<std::size_t>(size));
    const int order = std::memcmp(old_.data() + start, needle, common);
    return order < 0 || (order == 0 && suffixSize < static_cast<std::size_t>(size));
  }

  std::int64_t CommonLength(std::size_t start, const unsigned char* needle, std::int64_t size) const {
    const std::size_t limit = std::min(old_.size() - start, static_cast<std::size_t>(size));
    std::size_t length = 0;
    while (length < limit && old_[start + length] == needle[length]) ++length;
    return static_cast<std::int64_t>(length);
  }

  const Bytes& old_;
  std::vector<saidx_t> suffixes_;
};

void AppendU64(Bytes& out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

class InstructionWriter {
 public:
  InstructionWriter(const Bytes& old, const Bytes& neu, DeltaInstructions& out) : old_(old), new_(neu), out_(out) {}

  // new[newStart, +copy) as differences against old[oldStart, +copy), then
  // new[newStart + copy, +insert) as it is, then the seek.
  void Triple(std::int64_t newStart, std::int64_t oldStart, std::int64_t copy, std::int64_t insert,
              std::int64_t seek) {
    AppendU64(out_.control, static_cast<std::uint64_t>(copy));
    AppendU64(out_.control, static_cast<std::uint64_t>(insert));
    AppendU64(out_.control, static_cast<std::uint64_t>(seek));  // two's complement
    for (std::int64_t i = 0; i < copy; ++i) {
      out_.differences.push_back(static_cast<unsigned char>(new_[newStart + i] - old_[oldStart + i]));
    }
    out_.insertions.insert(out_.insertions.end(), new_.begin() + newStart + copy,
                           new_.begin() + newStart + copy + insert);
  }

 private:
  const Bytes& old_;
  const Bytes& new_;
  DeltaInstructions& out_;
};

void AppendCount(Bytes& out, std::uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<unsigned char>(value | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<unsigned char>(value));
}

// The differences as the difference stream holds them: runs of zeros
// counted, the bytes between as they are. A short run of zeros among other
// bytes costs less kept than counted.
Bytes AsRuns(const Bytes& differences) {
  constexpr std::size_t kShortestCountedZeros = 8;
  Bytes runs;
  std::size_t at = 0;
  while (at < differences.size()) {
    std::size_t zeros = 0;
    while (at + zeros < differences.size() && differences[at + zeros] == 0) ++zeros;
    const std::size_t literalStart = at + zeros;
    std::size_t literalEnd = literalStart;
    while (literalEnd < differences.size()) {
      std::size_t zeroRun = 0;
      while (literalEnd + zeroRun < differences.size() && differences[literalEnd + zeroRun] == 0) ++zeroRun;
      if (zeroRun >= kShortestCountedZeros || literalEnd + zeroRun == differences.size()) break;
      literalEnd += zeroRun + 1;
    }
    AppendCount(runs, zeros);
    AppendCount(runs, literalEnd - literalStart);
    runs.insert(runs.end(), differences.begin() + static_cast<std::ptrdiff_t>(literalStart),
                differences.begin() + static_cast<std::ptrdiff_t>(literalEnd));
    at = literalEnd;
  }
  return runs;
}

}  // namespace

DeltaInstructions EncodeDeltaInstructions(const Bytes& oldData, const Bytes& newData) {
  const std::int64_t oldSize = static_cast<std::int64_t>(oldData.size());
  const std::int64_t newSize = static_cast<std::int64_t>(newData.size());
  // Whether new[at] equals the old byte `offset` further on.
  const auto agrees = [&](std::int64_t at, std::int64_t offset) {
    const std::int64_t old = at + offset;
    return old >= 0 && old < oldSize && oldData[old] == newData[at];
  };
  const MatchFinder finder(oldData);
  DeltaInstructions out;
  InstructionWriter writer(oldData, newData, out);

  std::int64_t scan = 0;
  std::int64_t length = 0;
  std::int64_t position = 0;
  std::int64_t lastScan = 0;    // where the previous match, as extended, starts in the new file
  std::int64_t lastPosition = 0;  // and in the old file
  std::int64_t lastOffset = 0;  // old position minus new position along that match
  while (scan < newSize) {
    // How many bytes of new[scan, scan + length) the current alignment
    // already matches: a found match pays only where it beats that.
    std::int64_t alignedScore = 0;
    scan += length;
    for (std::int64_t scored = scan; scan < newSize; ++scan) {
      length = finder.Longest(newData.data() + scan, newSize - scan, position);
      for (; scored < scan + length; ++scored) {
        if (agrees(scored, lastOffset)) ++alignedScore;
      }
      if ((length == alignedScore && length != 0) || length > alignedScore + 8) break;
      if (agrees(scan, lastOffset)) --alignedScore;
    }
    if (length == alignedScore && scan != newSize) continue;

    // Forward from the previous match: the longest stretch where at least
    // half the bytes agree, scored as agreements minus disagreements.
    std::int64_t forward = 0;
    for (std::int64_t i = 0, agreed = 0, best = 0; lastScan + i < scan && lastPosition + i < oldSize;) {
      if (oldData[lastPosition + i] == newData[lastScan + i]) ++agreed;
      ++i;
      if (2 * agreed - i > 2 * best - forward) {
        best = agreed;
        forward = i;
      }
    }
    // Backward from the match found, the same way.
    std::int64_t backward = 0;
    if (scan < newSize) {
      for (std::int64_t i = 1, agreed = 0, best = 0; scan >= lastScan + i && position >= i; ++i) {
        if (oldData[position - i] == newData[scan - i]) ++agreed;
        if (2 * agreed - i > 2 * best - backward) {
          best = agreed;
          backward = i;
        }
      }
    }
    // Where the two stretches overlap, split them where the bytes agree
    // best with each side's alignment.
    const std::int64_t overlap = (lastScan + forward) - (scan - backward);
    if (overlap > 0) {
      std::int64_t score = 0;
      std::int64_t bestScore = 0;
      std::int64_t split = 0;
      for (std::int64_t i = 0; i < overlap; ++i) {
        if (newData[lastScan + forward - overlap + i] == oldData[lastPosition + forward - overlap + i]) ++score;
        if (newData[scan - backward + i] == oldData[position - backward + i]) --score;
        if (score > bestScore) {
          bestScore = score;
          split = i + 1;
        }
      }
      forward += split - overlap;
      backward -= split;
    }

    const std::int64_t insert = (scan - backward) - (lastScan + forward);
    // After the last triple the old offset no longer matters: 0 keeps it in place.
    const std::int64_t seek = scan < newSize ? (position - backward) - (lastPosition + forward) : 0;
    writer.Triple(lastScan, lastPosition, forward, insert, seek);
    lastScan = scan - backward;
    lastPosition = position - backward;
    lastOffset = position - scan;
  }
  out.differences = AsRuns(out.differences);
  return out;
}

}  // namespace publisher
