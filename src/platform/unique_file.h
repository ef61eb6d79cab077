// An owning stdio stream: closed when it goes out of scope.
#pragma once

#include <cstdio>
#include <memory>

namespace platform {

struct FileCloser {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};

using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace platform
