// Set-up and release of the deflate state of one file's compression.
#include "packer/deflate_stream.h"

#include "platform/platform.h"

namespace packer {

DeflateStream::~DeflateStream() {
  if (initialised_) deflateEnd(&stream_);
}

bool DeflateStream::Init() {
  if (deflateInit(&stream_, Z_DEFAULT_COMPRESSION) != Z_OK) {
    if (stream_.msg != nullptr) platform::DebugOutputNarrow(stream_.msg);
    return false;
  }
  initialised_ = true;
  return true;
}

}  // namespace packer
