// The per-user registry on Windows, through SHGetValueW.
#include <windows.h>
#include <shlwapi.h>
#include <wchar.h>

#include <vector>

#include "platform/platform.h"

namespace platform {

std::optional<std::wstring> ReadUserRegistryString(const std::wstring& subkey, const std::wstring& name,
                                                   std::size_t maxUnits) {
  std::vector<wchar_t> buffer(maxUnits, L'\0');
  DWORD type = 0;
  DWORD size = static_cast<DWORD>(maxUnits * sizeof(wchar_t));
  if (SHGetValueW(HKEY_CURRENT_USER, subkey.c_str(), name.c_str(), &type, buffer.data(), &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;  // missing, or too long for the buffer
  }
  // A value that fills the buffer without a terminator is no path.
  const std::size_t length = wcsnlen(buffer.data(), maxUnits);
  if (length == maxUnits) return std::nullopt;
  return std::wstring(buffer.data(), length);
}

}  // namespace platform
