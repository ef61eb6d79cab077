// The walk over a patch's records with the package layer's reader.
#include "publisher/package_walk.h"

#include "package/layout.h"
#include "package/record_reader.h"
#include "publisher/path_text.h"

namespace publisher {
namespace {

// Counts what a stream inflates to and keeps nothing.
class CountingSink final : public package::InflateSink {
 public:
  bool Write(const unsigned char*, std::size_t count) override {
    size += count;
    return true;
  }
  std::uint64_t size = 0;
};

// Takes what a delta builds and keeps nothing: the reader's checks of
// every triple against the sizes are what the walk wants.
class DiscardingTarget final : public package::DeltaTarget {
 public:
  bool Copy(std::uint64_t, const unsigned char*, std::size_t) override { return true; }
  bool Insert(const unsigned char*, std::size_t) override { return true; }
};

WalkFault FaultOf(package::LocateResult result) {
  switch (result) {
    case package::LocateResult::kNoPackage:
      return WalkFault::kNoPackage;
    case package::LocateResult::kTooLarge:
      return WalkFault::kTooLarge;
    default:
      return WalkFault::kLengthBeforeStart;
  }
}

WalkFault FaultOf(package::RecordKind kind) {
  switch (kind) {
    case package::RecordKind::kUnknownTag:
      return WalkFault::kUnknownTag;
    case package::RecordKind::kEmptyPath:
      return WalkFault::kEmptyPath;
    default:
      return WalkFault::kRecordCutShort;
  }
}

WalkFault FaultOf(package::InflateResult result) {
  return result == package::InflateResult::kCutShort ? WalkFault::kStreamCutShort : WalkFault::kStreamDamaged;
}

// Reads the stream of a "file" or a delta record; on kBadDelta, `delta`
// says what was wrong.
WalkFault ReadStream(std::FILE* patch, const package::RecordHead& head, package::RecordKind kind,
                     WalkedRecord& record, package::DeltaResult& delta) {
  if (kind == package::RecordKind::kDelta) {
    DiscardingTarget target;
    delta = package::ReadDeltaInstructions(patch, head, target);
    switch (delta) {
      case package::DeltaResult::kComplete:
        record.size = head.newFile.size;
        return WalkFault::kNone;
      case package::DeltaResult::kDamaged:
        return WalkFault::kStreamDamaged;
      case package::DeltaResult::kCutShort:
        return WalkFault::kStreamCutShort;
      default:
        return WalkFault::kBadDelta;
    }
  }
  CountingSink sink;
  const package::InflateResult inflated = package::InflateRecordStream(patch, sink);
  if (inflated != package::InflateResult::kComplete) return FaultOf(inflated);
  record.size = sink.size;
  return WalkFault::kNone;
}

// Reads one record at the stream's position into `record`. Returns kNone
// for a whole record, kEarlyTrailer or kNone (with `atTrailer` set) for a
// trailer tag, and the fault otherwise.
WalkFault ReadRecord(std::FILE* patch, long trailer, WalkedRecord& record, bool& atTrailer,
                     package::DeltaResult& delta) {
  package::RecordHead head;
  const package::RecordKind kind = package::ReadRecordHead(patch, head);
  if (kind == package::RecordKind::kEnd) {
    atTrailer = true;
    return record.offset == trailer ? WalkFault::kNone : WalkFault::kEarlyTrailer;
  }
  if (kind != package::RecordKind::kFile && kind != package::RecordKind::kDelta &&
      kind != package::RecordKind::kRemoval) {
    return FaultOf(kind);
  }
  record.kind = kind;
  record.path = head.path;
  record.times = head.times;
  record.oldFile = head.oldFile;
  const long streamStart = std::ftell(patch);
  if (kind != package::RecordKind::kRemoval) {
    const WalkFault fault = ReadStream(patch, head, kind, record, delta);
    if (fault != WalkFault::kNone) return fault;
  }
  const long streamEnd = std::ftell(patch);
  if (streamStart < 0 || streamEnd < streamStart) return WalkFault::kUnreadable;
  if (streamEnd > trailer) return WalkFault::kPastTrailer;
  record.compressedSize = static_cast<std::uint64_t>(streamEnd - streamStart);
  return WalkFault::kNone;
}

std::string DeltaFaultText(package::DeltaResult result) {
  switch (result) {
    case package::DeltaResult::kTooLarge:
      return "a size it names is larger than a delta can rebuild";
    case package::DeltaResult::kCopyPastNewSize:
      return "a copy would write past the new file's size";
    case package::DeltaResult::kCopyPastOldEnd:
      return "a copy would read past the old file's end";
    case package::DeltaResult::kInsertPastNewSize:
      return "an insertion would write past the new file's size";
    case package::DeltaResult::kSeekOutside:
      return "a seek would leave the old file";
    case package::DeltaResult::kTrailingData:
      return "a stream holds more than its triples take";
    case package::DeltaResult::kEndsInside:
      return "a stream ends before its triples are done with it";
    case package::DeltaResult::kShortOfNewSize:
      return "its triples end before the new file's size is reached";
    default:
      return "its instructions cannot be read";
  }
}

}  // namespace

WalkEnd WalkPackage(std::FILE* patch, const std::function<bool(const WalkedRecord&)>& onRecord) {
  WalkEnd end;
  const package::LocateResult located = package::LocatePackage(patch, end.bounds);
  if (located != package::LocateResult::kFound) {
    end.fault = FaultOf(located);
    return end;
  }
  const long trailer = end.bounds.end - static_cast<long>(package::kTrailerSize);
  // Apply mode also stops where a read leaves the stream at the end of the
  // file; between records that cannot happen here, since every record must
  // end before the trailer.
  for (;;) {
    WalkedRecord record;
    record.offset = std::ftell(patch);
    bool atTrailer = false;
    end.fault =
        record.offset < 0 ? WalkFault::kUnreadable : ReadRecord(patch, trailer, record, atTrailer, end.delta);
    end.offset = record.offset;
    end.path = record.path;
    if (end.fault != WalkFault::kNone || atTrailer) return end;
    if (!onRecord(record)) {
      end.fault = WalkFault::kStopped;
      return end;
    }
  }
}

std::string DescribeRecord(long offset, const std::wstring& path) {
  return "the record at offset " + std::to_string(offset) + (path.empty() ? std::string() : " (" + PathText(path) + ")");
}

std::string DescribeFault(const WalkEnd& end) {
  const std::string at = "at offset " + std::to_string(end.offset);
  const std::string record = DescribeRecord(end.offset, end.path);
  switch (end.fault) {
    case WalkFault::kNone:
    case WalkFault::kStopped:
      return std::string();
    case WalkFault::kNoPackage:
      return "no package: the file does not end in a package trailer, nor does its part before a signature";
    case WalkFault::kLengthBeforeStart:
      return "the package trailer's payload length reaches before the start of the file";
    case WalkFault::kTooLarge:
      return "the file is 2 GiB or larger: Windows cannot read a package from it";
    case WalkFault::kUnknownTag:
      return "no record tag " + at + ": none of \"file\", \"dlta\", \"remv\" and \"feof\"";
    case WalkFault::kEmptyPath:
      return record + " has an empty path";
    case WalkFault::kRecordCutShort:
      return record + " is cut short: the file ends inside its path, times or file checks";
    case WalkFault::kStreamDamaged:
      return record + ": its stream is damaged: the data or its Adler-32 is wrong";
    case WalkFault::kStreamCutShort:
      return record + ": its stream is cut short";
    case WalkFault::kBadDelta:
      return record + ": its delta is invalid: " + DeltaFaultText(end.delta);
    case WalkFault::kPastTrailer:
      return record + " runs on into the package trailer";
    case WalkFault::kEarlyTrailer:
      return "a trailer tag " + at + " ends the records before the package's trailer at offset " +
             std::to_string(end.bounds.end - static_cast<long>(package::kTrailerSize)) +
             ": apply mode would stop there and leave out what follows";
    case WalkFault::kUnreadable:
      return "a position in the file cannot be read";
  }
  return std::string();
}

}  // namespace publisher
