// The inflate loop of a record's zlib stream: package stream in, chunks out
// to a sink, 1024 bytes at a time, with the read-ahead given back at the end.
#include "package/inflate_stream.h"
#include "package/layout.h"
#include "package/record_reader.h"

namespace package {
namespace {

bool Hand(InflateSink& sink, const unsigned char* bytes, std::size_t count) {
  return count == 0 || sink.Write(bytes, count);
}

}  // namespace

InflateResult InflateRecordStream(std::FILE* package, InflateSink& sink) {
  InflateStream inflater;
  if (!inflater.Init()) return InflateResult::kDamaged;
  z_stream& stream = inflater.get();
  unsigned char input[StreamChunkSize];
  unsigned char buffer[StreamChunkSize];
  stream.avail_in = 0;
  stream.next_out = buffer;
  stream.avail_out = sizeof buffer;
  for (;;) {
    // Input is fetched only when inflate has used all of it: when a full
    // output buffer stopped it, the next call goes on from next_in.
    if (stream.avail_in == 0) {
      const std::size_t read = std::fread(input, 1, sizeof input, package);
      if (read == 0) break;  // the Z_FINISH below tells whether the stream was complete
      stream.next_in = input;
      stream.avail_in = static_cast<uInt>(read);
    }
    const int result = inflate(&stream, Z_NO_FLUSH);
    if (result == Z_STREAM_END) break;
    if (result != Z_OK) return InflateResult::kDamaged;
    if (stream.avail_out == 0) {
      if (!Hand(sink, buffer, sizeof buffer)) return InflateResult::kSinkFailed;
      stream.next_out = buffer;
      stream.avail_out = sizeof buffer;
    }
  }
  // At the stream's end this answers Z_STREAM_END at once and produces
  // nothing; any other answer means the package ran out first.
  if (inflate(&stream, Z_FINISH) != Z_STREAM_END) return InflateResult::kCutShort;
  if (!Hand(sink, buffer, static_cast<std::size_t>(stream.next_out - buffer))) return InflateResult::kSinkFailed;
  // The read-ahead is at most one chunk. Seeking back over it puts the
  // package stream on the next tag and also clears the end-of-file
  // indicator that a read into the trailer set, which the record loop tests.
  if (stream.avail_in != 0 && std::fseek(package, -static_cast<long>(stream.avail_in), SEEK_CUR) != 0) {
    return InflateResult::kDamaged;
  }
  return InflateResult::kComplete;
}

}  // namespace package
