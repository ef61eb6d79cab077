// Building delta, whole-file and removal records in memory.
#include "publisher/delta_record.h"

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "package/layout.h"
#include "package/record_reader.h"
#include "platform/platform.h"
#include "platform/unique_file.h"
#include "publisher/delta_encoder.h"

namespace publisher {
namespace {

using Bytes = std::vector<unsigned char>;

bool ReadWholeFile(const std::wstring& path, Bytes& content) {
  const platform::UniqueFile file(platform::OpenFile(path, "rb"));
  if (!file) return false;
  content.clear();
  unsigned char chunk[64 * 1024];
  std::size_t read = 0;
  while ((read = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) content.insert(content.end(), chunk, chunk + read);
  return std::ferror(file.get()) == 0;
}

void AppendLittleEndian(Bytes& out, std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void AppendTag(Bytes& out, const package::RecordTag& tag) { out.insert(out.end(), tag, tag + package::kTagSize); }

// The unit count and the UTF-16 units of a path that was checked to fit.
void AppendPath(Bytes& out, const std::wstring& path) {
  AppendLittleEndian(out, path.size(), 2);
  for (const wchar_t unit : path) AppendLittleEndian(out, static_cast<std::uint16_t>(unit), 2);
}

void AppendTimes(Bytes& out, const platform::FileTimes& times) {
  AppendLittleEndian(out, times.creation, 8);
  AppendLittleEndian(out, times.lastAccess, 8);
  AppendLittleEndian(out, times.lastWrite, 8);
}

package::FileCheck CheckOf(const Bytes& content) {
  uLong crc = crc32(0, Z_NULL, 0);
  // crc32 takes at most a uInt at a time.
  constexpr std::size_t kStep = 1u << 30;
  for (std::size_t at = 0; at < content.size(); at += kStep) {
    const std::size_t step = std::min(kStep, content.size() - at);
    crc = crc32(crc, content.data() + at, static_cast<uInt>(step));
  }
  return {content.size(), static_cast<std::uint32_t>(crc)};
}

void AppendCheck(Bytes& out, const package::FileCheck& check) {
  AppendLittleEndian(out, check.size, 8);
  AppendLittleEndian(out, check.crc, 4);
}

// Appends `content` as one zlib stream at `level`. Pack mode's records use
// Z_DEFAULT_COMPRESSION; zlib's output depends on the level and the bytes
// alone, not on how the input is handed over, so a whole-file record built
// here is the one pack mode writes.
bool AppendZlibStream(Bytes& out, const Bytes& content, int level) {
  z_stream stream{};
  if (deflateInit(&stream, level) != Z_OK) return false;
  unsigned char chunk[64 * 1024];
  std::size_t offered = 0;
  int result = Z_OK;
  do {
    if (stream.avail_in == 0 && offered < content.size()) {
      const std::size_t step = std::min<std::size_t>(content.size() - offered, 1u << 30);
      stream.next_in = const_cast<unsigned char*>(content.data() + offered);
      stream.avail_in = static_cast<uInt>(step);
      offered += step;
    }
    stream.next_out = chunk;
    stream.avail_out = sizeof chunk;
    result = deflate(&stream, offered == content.size() ? Z_FINISH : Z_NO_FLUSH);
    out.insert(out.end(), chunk, chunk + (sizeof chunk - stream.avail_out));
  } while (result == Z_OK || result == Z_BUF_ERROR);
  deflateEnd(&stream);
  return result == Z_STREAM_END;
}

bool PathFits(const std::wstring& path) {
  if (path.empty() || path.size() > std::numeric_limits<std::uint16_t>::max()) return false;
  for (const wchar_t unit : path) {
    if (static_cast<std::uint32_t>(unit) > 0xFFFF) return false;
  }
  return true;
}

bool WholeFileRecord(const std::wstring& packagePath, const platform::FileTimes& times, const Bytes& content,
                     Bytes& record) {
  AppendTag(record, package::kFileTag);
  AppendPath(record, packagePath);
  AppendTimes(record, times);
  return AppendZlibStream(record, content, Z_DEFAULT_COMPRESSION);
}

}  // namespace

bool EncodeChangedFileRecord(const std::wstring& oldPath, const std::wstring& newPath,
                             const std::wstring& packagePath, std::vector<unsigned char>& out,
                             ChangedFileEncoding* encoding) {
  if (!PathFits(packagePath)) return false;
  platform::FileTimes times;
  Bytes oldContent;
  Bytes newContent;
  if (!platform::ReadFileTimes(newPath, times) || !ReadWholeFile(oldPath, oldContent) ||
      !ReadWholeFile(newPath, newContent)) {
    return false;
  }
  Bytes whole;
  if (!WholeFileRecord(packagePath, times, newContent, whole)) return false;
  Bytes delta;
  const bool deltaFits =
      oldContent.size() <= package::kMaxDeltaFileSize && newContent.size() <= package::kMaxDeltaFileSize;
  const bool useDelta = deltaFits && AppendDeltaRecord(packagePath, times, oldContent, newContent, delta) &&
                        delta.size() < whole.size();
  const Bytes& chosen = useDelta ? delta : whole;
  out.insert(out.end(), chosen.begin(), chosen.end());
  if (encoding != nullptr) *encoding = useDelta ? ChangedFileEncoding::kDelta : ChangedFileEncoding::kWholeFile;
  return true;
}

// The instructions are made once, at the publisher's, and read by every
// player: the best compression is worth its time.
bool AppendDeltaRecord(const std::wstring& packagePath, const platform::FileTimes& times, const Bytes& oldContent,
                       const Bytes& newContent, Bytes& out) {
  AppendTag(out, package::kDeltaTag);
  AppendPath(out, packagePath);
  AppendTimes(out, times);
  AppendCheck(out, CheckOf(oldContent));
  AppendCheck(out, CheckOf(newContent));
  const DeltaInstructions instructions = EncodeDeltaInstructions(oldContent, newContent);
  Bytes streams[package::kDeltaStreamCount];
  const Bytes* parts[package::kDeltaStreamCount] = {&instructions.control, &instructions.differences,
                                                     &instructions.insertions};
  for (std::size_t i = 0; i < package::kDeltaStreamCount; ++i) {
    if (!AppendZlibStream(streams[i], *parts[i], Z_BEST_COMPRESSION)) return false;
    // A package stays below 2 GiB, so a stream that would not fit in its
    // length cannot be packed anyway.
    if (streams[i].size() > UINT32_MAX) return false;
    AppendLittleEndian(out, streams[i].size(), 4);
  }
  for (const Bytes& stream : streams) out.insert(out.end(), stream.begin(), stream.end());
  return true;
}

bool EncodeRemovalRecord(const std::wstring& oldPath, const std::wstring& packagePath,
                         std::vector<unsigned char>& out) {
  Bytes oldContent;
  if (!PathFits(packagePath) || !ReadWholeFile(oldPath, oldContent)) return false;
  AppendTag(out, package::kRemovalTag);
  AppendPath(out, packagePath);
  AppendCheck(out, CheckOf(oldContent));
  return true;
}

}  // namespace publisher
