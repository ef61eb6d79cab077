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

// Reads one record at the stream's position into `record`. Returns kNone
// for a whole "file" record, kEarlyTrailer or kNone (with `atTrailer` set)
// for a trailer tag, and the fault otherwise.
WalkFault ReadRecord(std::FILE* patch, long trailer, WalkedRecord& record, bool& atTrailer) {
  package::RecordHead head;
  const package::RecordKind kind = package::ReadRecordHead(patch, head);
  if (kind == package::RecordKind::kEnd) {
    atTrailer = true;
    return record.offset == trailer ? WalkFault::kNone : WalkFault::kEarlyTrailer;
  }
  if (kind != package::RecordKind::kFile) return FaultOf(kind);
  record.path = head.path;
  record.times = head.times;
  const long streamStart = std::ftell(patch);
  CountingSink sink;
  const package::InflateResult inflated = package::InflateRecordStream(patch, sink);
  if (inflated != package::InflateResult::kComplete) return FaultOf(inflated);
  const long streamEnd = std::ftell(patch);
  if (streamStart < 0 || streamEnd < streamStart) return WalkFault::kUnreadable;
  if (streamEnd > trailer) return WalkFault::kPastTrailer;
  record.size = sink.size;
  record.compressedSize = static_cast<std::uint64_t>(streamEnd - streamStart);
  return WalkFault::kNone;
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
    end.fault = record.offset < 0 ? WalkFault::kUnreadable : ReadRecord(patch, trailer, record, atTrailer);
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
      return "no record tag " + at + ": neither \"file\" nor \"feof\"";
    case WalkFault::kEmptyPath:
      return record + " has an empty path";
    case WalkFault::kRecordCutShort:
      return record + " is cut short: the file ends inside its path or times";
    case WalkFault::kStreamDamaged:
      return record + ": its stream is damaged: the data or its Adler-32 is wrong";
    case WalkFault::kStreamCutShort:
      return record + ": its stream is cut short";
    case WalkFault::kPastTrailer:
      return record + ": its stream runs on into the package trailer";
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
