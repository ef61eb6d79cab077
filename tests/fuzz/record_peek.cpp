// Peeking at the next record and inflating its stream in one piece.
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

}  // namespace

RecordPeek PeekRecord(std::FILE* package, const std::uint8_t* carrier, std::size_t carrierSize,
                      const std::wstring& installDir) {
  RecordPeek peek;
  const long start = std::ftell(package);
  Require(start >= 0, "ftell failed on the carrier");
  package::RecordTag tag;
  if (package::ReadTag(package, tag) && package::TagEquals(tag, package::kFileTag)) {
    peek.isFileRecord = true;
    const std::wstring path = package::ReadPackagePath(package);
    const long afterPath = std::ftell(package);
    peek.destination = installDir;
    if (path.empty() || !platform::JoinPath(peek.destination, path)) peek.destination.clear();
    const std::size_t streamStart = static_cast<std::size_t>(afterPath) + 3 * package::kFileTimeSize;
    if (streamStart <= carrierSize) {
      std::size_t consumed = 0;
      peek.content = InflateWhole(carrier + streamStart, carrierSize - streamStart, consumed);
      peek.streamEnd = static_cast<long>(streamStart + consumed);
    }
  }
  Require(std::fseek(package, start, SEEK_SET) == 0, "cannot seek back after peeking at a record");
  return peek;
}

}  // namespace fuzz
