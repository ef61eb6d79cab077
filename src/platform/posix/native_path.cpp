// UTF-16 <-> UTF-8 and separator conversion for the POSIX platform layer.
#include "platform/posix/native_path.h"

#include <algorithm>

namespace platform::posix {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendUtf16(std::wstring& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<wchar_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<wchar_t>(0xD800 | (c >> 10));
    out += static_cast<wchar_t>(0xDC00 | (c & 0x3FF));
  }
}

bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u < 0xDC00; }
bool IsLowSurrogate(char32_t u) { return u >= 0xDC00 && u < 0xE000; }

}  // namespace

std::string ToUtf8(const std::wstring& units) {
  std::string out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t u = static_cast<char32_t>(units[i]) & 0xFFFF;
    if (IsHighSurrogate(u) && i + 1 < units.size() &&
        IsLowSurrogate(static_cast<char32_t>(units[i + 1]) & 0xFFFF)) {
      const char32_t low = static_cast<char32_t>(units[++i]) & 0xFFFF;
      u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
    } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
      u = kReplacement;
    }
    AppendUtf8(out, u);
  }
  return out;
}

std::wstring FromUtf8(const std::string& bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char lead = static_cast<unsigned char>(bytes[i]);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 && lead < 0xF5 ? 4
                       : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
    char32_t c = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    bool valid = length != 0 && i + length <= bytes.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
      valid = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    valid = valid && !(length == 3 && (c < 0x800 || (c >= 0xD800 && c < 0xE000))) &&
            !(length == 4 && (c < 0x10000 || c > 0x10FFFF));
    if (!valid) {
      AppendUtf16(out, kReplacement);
      ++i;
      continue;
    }
    AppendUtf16(out, c);
    i += length;
  }
  return out;
}

std::string ToNativePath(const std::wstring& path) {
  std::string native = ToUtf8(path);
  std::replace(native.begin(), native.end(), '\\', '/');
  return native;
}

std::wstring FromNativePath(const std::string& path) {
  std::wstring units = FromUtf8(path);
  std::replace(units.begin(), units.end(), L'/', L'\\');
  return units;
}

}  // namespace platform::posix
