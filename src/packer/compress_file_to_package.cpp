// The deflate loop that turns one source file into one zlib stream in the
// package, equal to what zlib's compress2 gives at level 6.
#include "packer/compress_file_to_package.h"

#include "platform/platform.h"

namespace packer {

bool CompressFileToPackage::Start(RecordOutput& output, const std::wstring& sourcePath) {
  destination_ = &output;
  source_.reset(platform::OpenFile(sourcePath, "rb"));
  if (!source_) return false;
  if (!deflater_.Init()) {
    source_.reset();
    return false;
  }
  return true;
}

bool CompressFileToPackage::FlushOutput() {
  z_stream& stream = deflater_.get();
  const std::size_t produced = package::StreamChunkSize - stream.avail_out;
  stream.next_out = output_;
  stream.avail_out = package::StreamChunkSize;
  return produced == 0 || destination_->Write(output_, produced);
}

bool CompressFileToPackage::Run() {
  z_stream& stream = deflater_.get();
  stream.next_in = input_;
  stream.avail_in = 0;
  stream.next_out = output_;
  stream.avail_out = package::StreamChunkSize;

  // deflate is never called without input or without output space, and
  // full output blocks go to the package as soon as they are full.
  for (;;) {
    if (stream.avail_in == 0) {
      const std::size_t read = std::fread(input_, 1, package::StreamChunkSize, source_.get());
      if (read == 0) {
        // The head is already in the package: a source that fails now
        // cannot be left out any more.
        if (std::ferror(source_.get())) return false;
        break;
      }
      stream.next_in = input_;
      stream.avail_in = static_cast<uInt>(read);
    }
    if (deflate(&stream, Z_NO_FLUSH) != Z_OK) return false;
    if (stream.avail_out == 0 && !FlushOutput()) return false;
  }

  int result = deflate(&stream, Z_FINISH);
  while (result == Z_OK) {
    if (!FlushOutput()) return false;
    result = deflate(&stream, Z_FINISH);
  }
  return result == Z_STREAM_END && FlushOutput();
}

}  // namespace packer
