// Printable package paths.
#include "publisher/path_text.h"

#include "platform/posix/native_path.h"

namespace publisher {

std::string PathText(const std::wstring& path) {
  std::wstring shown = path;
  for (wchar_t& unit : shown) {
    if (unit < 0x20 || unit == 0x7F) unit = L'?';
  }
  return platform::posix::ToUtf8(shown);
}

}  // namespace publisher
