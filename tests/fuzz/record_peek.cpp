// Peeking at the next record and inflating its stream in one piece, and a
// reference reading of a delta's instructions.
#include "record_peek.h"

#include <zlib.h>

#include "package/record_reader.h"
#include "package/fields.h"
#include "package/layout.h"
#include "platform/platform.h"
#include "property_check.h"

namespace fuzz {
namespace {

// Inflates the zlib stream at the start of `bytes` with zlib alone, all
// input at once. Returns the content and sets `consumed` to the stream's
// length when the stream ends within `bytes`.
std::optional<std::string> InflateWhole(const std::uint8_t* bytes, std::size_t size, std::size_t& consumed) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) Violated("zlib cannot set up an inflater");
  stream.next_in = const_cast<Bytef*>(bytes);
  stream.avail_in = static_cast<uInt>(size);
  std::string content;
  int result = Z_OK;
  while (result == Z_OK) {
    unsigned char buffer[65536];
    stream.next_out = buffer;
    stream.avail_out = sizeof buffer;
    result = inflate(&stream, Z_NO_FLUSH);
    content.append(reinterpret_cast<char*>(buffer), sizeof buffer - stream.avail_out);
  }
  // Input that runs out before the stream's end ends the loop with
  // Z_BUF_ERROR, damaged data with Z_DATA_ERROR.
  consumed = stream.total_in;
  inflateEnd(&stream);
  if (result != Z_STREAM_END) return std::nullopt;
  return content;
}

std::uint64_t LittleEndian(const std::uint8_t* bytes, int size) {
  std::uint64_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

PeekKind KindOf(const package::RecordTag& tag) {
  if (package::TagEquals(tag, package::kFileTag)) return PeekKind::kFile;
  if (package::TagEquals(tag, package::kDeltaTag)) return PeekKind::kDelta;
  if (package::TagEquals(tag, package::kRemovalTag)) return PeekKind::kRemoval;
  return PeekKind::kOther;
}

}  // namespace

std::uint32_t Crc32Of(const std::string& bytes) {
  return static_cast<std::uint32_t>(
      crc32(crc32(0, Z_NULL, 0), reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

// The differences that the runs of a difference stream spell out, when they
// give exactly `needed` of them and end right after the run that completes
// them, as the reader takes them: a run is read only while differences are
// still wanted. Built only when `build` is set; otherwise the result is
// empty.
std::optional<std::string> ExpandRuns(const std::string& runs, std::uint64_t needed, bool build) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(runs.data());
  std::size_t at = 0;
  unsigned __int128 total = 0;
  std::string expanded;
  const auto count = [&](std::uint64_t& value) {
    value = 0;
    for (int i = 0; i < 10; ++i) {
      if (at >= runs.size()) return false;
      const std::uint8_t byte = bytes[at++];
      if (i == 9 && (byte & 0x7F) > 1) return false;
      value |= std::uint64_t{byte & 0x7Fu} << (7 * i);
      if ((byte & 0x80) == 0) return true;
    }
    return false;
  };
  while (total < needed) {
    std::uint64_t zeros = 0;
    std::uint64_t literals = 0;
    if (!count(zeros) || !count(literals)) return std::nullopt;
    if (total + zeros + literals > needed || literals > runs.size() - at) return std::nullopt;
    if (build) {
      expanded.append(static_cast<std::size_t>(zeros), '\0');
      expanded.append(runs, at, static_cast<std::size_t>(literals));
    }
    at += static_cast<std::size_t>(literals);
    total += zeros + literals;
  }
  if (at != runs.size()) return std::nullopt;
  return expanded;
}

std::optional<std::string> ReferenceRebuild(const std::string (&streams)[package::kDeltaStreamCount],
                                            const std::string* old, std::uint64_t oldSize, std::uint64_t newSize) {
  const std::string& control = streams[package::kControlStream];
  const std::string& insertions = streams[package::kInsertionStream];
  const auto* triples = reinterpret_cast<const std::uint8_t*>(control.data());
  // The differences that the copies take, first counted.
  unsigned __int128 copies = 0;
  for (std::size_t at = 0; at + 24 <= control.size(); at += 24) copies += LittleEndian(triples + at, 8);
  if (copies > newSize) return std::nullopt;
  const std::optional<std::string> expanded =
      ExpandRuns(streams[package::kDifferenceStream], static_cast<std::uint64_t>(copies), old != nullptr);
  if (!expanded) return std::nullopt;
  const std::string& differences = *expanded;
  // Every quantity is a 64-bit value compared in 128 bits, so that none wraps.
  using Wide = unsigned __int128;
  Wide at = 0;
  Wide copied = 0;
  Wide inserted = 0;
  Wide position = 0;
  Wide written = 0;
  std::string built;
  while (at < control.size()) {
    if (written == newSize || at + 24 > control.size()) return std::nullopt;
    const std::uint64_t copy = LittleEndian(triples + at, 8);
    const std::uint64_t insert = LittleEndian(triples + at + 8, 8);
    const auto seek = static_cast<std::int64_t>(LittleEndian(triples + at + 16, 8));
    at += 24;
    if (written + copy + insert > newSize || position + copy > oldSize) return std::nullopt;
    if (inserted + insert > insertions.size()) return std::nullopt;
    if (old != nullptr) {
      for (std::uint64_t i = 0; i < copy; ++i) {
        built += static_cast<char>((*old)[static_cast<std::size_t>(position + i)] +
                                   differences[static_cast<std::size_t>(copied + i)]);
      }
      built.append(insertions, static_cast<std::size_t>(inserted), static_cast<std::size_t>(insert));
    }
    copied += copy;
    inserted += insert;
    written += copy + insert;
    const __int128 moved = static_cast<__int128>(position + copy) + seek;
    if (moved < 0 || moved > static_cast<__int128>(oldSize)) return std::nullopt;
    position = static_cast<Wide>(moved);
  }
  if (written != newSize || inserted != insertions.size()) return std::nullopt;
  return built;
}

RecordPeek PeekRecord(std::FILE* package, const std::uint8_t* carrier, std::size_t carrierSize,
                      const std::wstring& installDir) {
  RecordPeek peek;
  const long start = std::ftell(package);
  Require(start >= 0, "ftell failed on the carrier");
  package::RecordTag tag;
  if (package::ReadTag(package, tag) && KindOf(tag) != PeekKind::kOther) {
    peek.kind = KindOf(tag);
    const std::wstring path = package::ReadPackagePath(package);
    const long afterPath = std::ftell(package);
    peek.destination = installDir;
    if (path.empty() || !platform::JoinPath(peek.destination, path)) peek.destination.clear();
    // Removals carry no times; a delta's checks follow its times.
    const std::size_t checks =
        static_cast<std::size_t>(afterPath) + (peek.kind == PeekKind::kRemoval ? 0 : 3 * package::kFileTimeSize);
    // A delta's checks are followed by its streams' lengths.
    const std::size_t checksSize = peek.kind == PeekKind::kDelta
                                       ? 2 * package::kFileCheckSize + 4 * package::kDeltaStreamCount
                                       : package::kFileCheckSize;
    if (peek.kind != PeekKind::kFile && checks + checksSize <= carrierSize) {
      peek.checksRead = true;
      if (peek.kind == PeekKind::kRemoval) peek.streamEnd = static_cast<long>(checks + checksSize);
      peek.oldSize = LittleEndian(carrier + checks, 8);
      peek.oldCrc = static_cast<std::uint32_t>(LittleEndian(carrier + checks + 8, 4));
      if (peek.kind == PeekKind::kDelta) {
        peek.newSize = LittleEndian(carrier + checks + 12, 8);
        peek.newCrc = static_cast<std::uint32_t>(LittleEndian(carrier + checks + 20, 4));
      }
    }
    const std::size_t streamStart = peek.kind == PeekKind::kDelta ? checks + checksSize : checks;
    if (peek.kind == PeekKind::kFile && streamStart <= carrierSize) {
      peek.streamStart = static_cast<long>(streamStart);
      std::size_t consumed = 0;
      peek.content = InflateWhole(carrier + streamStart, carrierSize - streamStart, consumed);
      peek.streamEnd = static_cast<long>(streamStart + consumed);
    }
    if (peek.kind == PeekKind::kDelta && peek.checksRead) {
      peek.streamStart = static_cast<long>(streamStart);
      // Each stream whole, and ending exactly at its length, within the carrier.
      std::uint64_t at = streamStart;
      bool whole = true;
      for (std::size_t i = 0; i < package::kDeltaStreamCount; ++i) {
        const std::uint64_t length = LittleEndian(carrier + checks + 2 * package::kFileCheckSize + 4 * i, 4);
        std::size_t consumed = 0;
        std::optional<std::string> stream;
        if (at + length <= carrierSize) stream = InflateWhole(carrier + at, static_cast<std::size_t>(length), consumed);
        whole = whole && stream && consumed == length;
        if (whole) peek.deltaStreams[i] = *stream;
        at += length;
      }
      if (whole) {
        peek.deltaWhole = true;
        peek.streamEnd = static_cast<long>(at);
      }
    }
  }
  Require(std::fseek(package, start, SEEK_SET) == 0, "cannot seek back after peeking at a record");
  return peek;
}

}  // namespace fuzz
