// Comparing two files block by block.
#include "publisher/same_file_content.h"

#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "platform/unique_file.h"

namespace publisher {

bool SameFileContent(const std::wstring& first, const std::wstring& second) {
  const platform::UniqueFile a(platform::OpenFile(first, "rb"));
  const platform::UniqueFile b(platform::OpenFile(second, "rb"));
  if (!a || !b) return false;
  constexpr std::size_t kBlock = std::size_t{64} * 1024;
  std::vector<unsigned char> blockA(kBlock);
  std::vector<unsigned char> blockB(kBlock);
  for (;;) {
    const std::size_t readA = std::fread(blockA.data(), 1, kBlock, a.get());
    const std::size_t readB = std::fread(blockB.data(), 1, kBlock, b.get());
    if (readA != readB || std::memcmp(blockA.data(), blockB.data(), readA) != 0) return false;
    if (readA < kBlock) return !std::ferror(a.get()) && !std::ferror(b.get());
  }
}

}  // namespace publisher
