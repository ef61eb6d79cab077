// Record heads: the tag, then the path and what the kind of record carries
// before its stream.
#include "package/record_reader.h"

#include "package/fields.h"

namespace package {
namespace {

// Reads the u16 count and the units; false when the package ends first.
bool ReadPathUnits(std::FILE* package, std::wstring& path) {
  std::uint16_t count = 0;
  if (!ReadU16(package, count)) return false;
  path.clear();
  for (std::uint16_t i = 0; i < count; ++i) {
    std::uint16_t unit = 0;
    if (!ReadU16(package, unit)) return false;
    // The package holds no terminator, so a 0 unit ends nothing.
    if (unit != 0) path += static_cast<wchar_t>(unit);
  }
  return true;
}

bool ReadTimes(std::FILE* package, platform::FileTimes& times) {
  return ReadU64(package, times.creation) && ReadU64(package, times.lastAccess) &&
         ReadU64(package, times.lastWrite);
}

bool ReadFileCheck(std::FILE* package, FileCheck& check) {
  return ReadU64(package, check.size) && ReadU32(package, check.crc);
}

bool ReadStreamLengths(std::FILE* package, std::array<std::uint32_t, kDeltaStreamCount>& lengths) {
  for (std::uint32_t& length : lengths) {
    if (!ReadU32(package, length)) return false;
  }
  return true;
}

// The kind of a record whose tag was read, before its path.
RecordKind KindOf(const RecordTag& tag) {
  if (TagEquals(tag, kFileTag)) return RecordKind::kFile;
  if (TagEquals(tag, kDeltaTag)) return RecordKind::kDelta;
  if (TagEquals(tag, kRemovalTag)) return RecordKind::kRemoval;
  return RecordKind::kUnknownTag;
}

}  // namespace

std::wstring ReadPackagePath(std::FILE* package) {
  std::wstring path;
  return ReadPathUnits(package, path) ? path : std::wstring();
}

RecordKind ReadRecordHead(std::FILE* package, RecordHead& head) {
  RecordTag tag;
  if (!ReadTag(package, tag)) return RecordKind::kUnknownTag;
  if (TagEquals(tag, kEndTag)) {
    std::uint32_t payloadLength;
    ReadU32(package, payloadLength);  // the package was located from the trailer already
    return RecordKind::kEnd;
  }
  const RecordKind kind = KindOf(tag);
  if (kind == RecordKind::kUnknownTag) return kind;
  if (!ReadPathUnits(package, head.path)) return RecordKind::kCutShort;
  if (head.path.empty()) return RecordKind::kEmptyPath;
  const bool whole = (kind == RecordKind::kRemoval || ReadTimes(package, head.times)) &&
                     (kind == RecordKind::kFile || ReadFileCheck(package, head.oldFile)) &&
                     (kind != RecordKind::kDelta || (ReadFileCheck(package, head.newFile) &&
                                                      ReadStreamLengths(package, head.streamLengths)));
  return whole ? kind : RecordKind::kCutShort;
}

}  // namespace package
