// The inflate loop: package stream in, partial file out, 1024 bytes at a
// time, with the read-ahead given back at the end of the zlib stream.
#include "applier/inflate_to_file.h"

#include "applier/inflate_stream.h"
#include "applier/partial_file.h"
#include "package/layout.h"

namespace applier {
namespace {

bool WriteAll(std::FILE* output, const unsigned char* bytes, std::size_t count) {
  return count == 0 || std::fwrite(bytes, 1, count, output) == count;
}

// Inflates from the package stream's position into `output` until zlib
// reports the stream's end, then seeks back over the input read past it.
// False on damaged data, data that ends before the stream, a failed write
// or a failed seek; the package stream then stands wherever reading ended.
bool InflateStreamTo(std::FILE* package, z_stream& stream, std::FILE* output) {
  unsigned char input[package::StreamChunkSize];
  unsigned char buffer[package::StreamChunkSize];
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
    if (result != Z_OK) return false;
    if (stream.avail_out == 0) {
      if (!WriteAll(output, buffer, sizeof buffer)) return false;
      stream.next_out = buffer;
      stream.avail_out = sizeof buffer;
    }
  }
  // At the stream's end this answers Z_STREAM_END at once and produces
  // nothing; any other answer means the package ran out first.
  if (inflate(&stream, Z_FINISH) != Z_STREAM_END) return false;
  if (!WriteAll(output, buffer, static_cast<std::size_t>(stream.next_out - buffer))) return false;
  // The read-ahead is at most one chunk. Seeking back over it puts the
  // package stream on the next tag and also clears the end-of-file
  // indicator that a read into the trailer set, which the record loop tests.
  return stream.avail_in == 0 || std::fseek(package, -static_cast<long>(stream.avail_in), SEEK_CUR) == 0;
}

}  // namespace

int InflateToFile(std::FILE* package, const std::wstring& outputPath) {
  PartialFile partial;
  if (!partial.Create(outputPath)) return 0;
  InflateStream inflater;
  if (!inflater.Init()) return 0;
  if (!InflateStreamTo(package, inflater.get(), partial.stream())) return 0;
  return partial.ReplaceDestination() ? 1 : 0;
}

}  // namespace applier
