// A zlib deflate state that is released when it goes out of scope.
#pragma once

#include <zlib.h>

namespace packer {

class DeflateStream {
 public:
  DeflateStream() = default;
  ~DeflateStream();
  DeflateStream(const DeflateStream&) = delete;
  DeflateStream& operator=(const DeflateStream&) = delete;

  // Sets the state up with deflateInit at Z_DEFAULT_COMPRESSION: the zlib
  // format, a 15-bit window, memory level 8, the default strategy, so that
  // every stream begins with 78 9C. On failure sends zlib's message, when
  // it set one, to the debugger output and returns false.
  bool Init();

  z_stream& get() { return stream_; }

 private:
  z_stream stream_{};  // zalloc, zfree and opaque null: zlib's own allocator
  bool initialised_ = false;
};

}  // namespace packer
