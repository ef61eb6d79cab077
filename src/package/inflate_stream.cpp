// Set-up and release of the inflate state of one record's extraction.
#include "package/inflate_stream.h"

#include "platform/platform.h"

namespace package {

InflateStream::~InflateStream() {
  if (initialised_) inflateEnd(&stream_);
}

bool InflateStream::Init() {
  if (inflateInit(&stream_) != Z_OK) {
    if (stream_.msg != nullptr) platform::DebugOutputNarrow(stream_.msg);
    return false;
  }
  initialised_ = true;
  return true;
}

}  // namespace package
