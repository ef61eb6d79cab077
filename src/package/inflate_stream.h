// A zlib inflate state that is released when it goes out of scope.
#pragma once

#include <zlib.h>

namespace package {

class InflateStream {
 public:
  InflateStream() = default;
  ~InflateStream();
  InflateStream(const InflateStream&) = delete;
  InflateStream& operator=(const InflateStream&) = delete;

  // Sets the state up with inflateInit: the zlib format with its Adler-32
  // check and a 15-bit window. On failure sends zlib's message, when it set
  // one, to the debugger output and returns false.
  bool Init();

  z_stream& get() { return stream_; }

 private:
  z_stream stream_{};  // no input yet; zalloc, zfree and opaque null: zlib's own allocator
  bool initialised_ = false;
};

}  // namespace package
