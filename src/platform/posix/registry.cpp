// The per-user registry on POSIX: the Wine prefix's user.reg, so that the
// native program finds the same install directory as the Windows program
// running in that prefix.
#include <cstdlib>
#include <cwctype>
#include <fstream>

#include "platform/platform.h"
#include "platform/posix/native_path.h"

namespace platform {
namespace {

std::string WinePrefix() {
  if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0') return prefix;
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    return std::string(home) + "/.wine";
  }
  return std::string();
}

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Undoes Wine's escapes in a quoted string that starts at `text[start]`
// (the opening quote). Returns false when the closing quote is missing.
bool Unquote(const std::wstring& text, std::size_t start, std::wstring& out, std::size_t* end = nullptr) {
  out.clear();
  if (start >= text.size() || text[start] != L'"') return false;
  for (std::size_t i = start + 1; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (c == L'"') {
      if (end != nullptr) *end = i + 1;
      return true;
    }
    if (c != L'\\' || i + 1 == text.size()) {
      out += c;
      continue;
    }
    const wchar_t next = text[++i];
    if (next == L'x') {
      unsigned value = 0;
      int digits = 0;
      while (digits < 4 && i + 1 < text.size() && HexDigit(text[i + 1]) >= 0) {
        value = value * 16 + static_cast<unsigned>(HexDigit(text[++i]));
        ++digits;
      }
      out += static_cast<wchar_t>(value);
    } else if (next == L'n') {
      out += L'\n';
    } else if (next == L'r') {
      out += L'\r';
    } else if (next == L't') {
      out += L'\t';
    } else if (next == L'0') {
      out += L'\0';
    } else {
      out += next;
    }
  }
  return false;
}

bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) return false;
  }
  return true;
}

// The key name of a section line "[Software\\a\\b] 1234", unescaped.
bool SectionName(const std::wstring& line, std::wstring& name) {
  if (line.empty() || line[0] != L'[') return false;
  const std::size_t close = line.find(L']');
  if (close == std::wstring::npos) return false;
  name.clear();
  for (std::size_t i = 1; i < close; ++i) {
    if (line[i] == L'\\' && i + 1 < close && line[i + 1] == L'\\') ++i;
    name += line[i];
  }
  return true;
}

// A drive path resolves through the prefix's drive links, as Wine maps it.
std::wstring ResolveDrivePath(const std::string& prefix, const std::wstring& value) {
  if (value.size() < 2 || value[1] != L':' || !std::iswalpha(static_cast<wint_t>(value[0]))) return value;
  const char drive = static_cast<char>(std::towlower(static_cast<wint_t>(value[0])));
  const std::string link = prefix + "/dosdevices/" + drive + ":";
  return posix::FromNativePath(link) + value.substr(2);
}

}  // namespace

std::optional<std::wstring> ReadUserRegistryString(const std::wstring& subkey, const std::wstring& name,
                                                   std::size_t maxUnits) {
  const std::string prefix = WinePrefix();
  if (prefix.empty()) return std::nullopt;
  std::ifstream file(prefix + "/user.reg", std::ios::binary);
  if (!file) return std::nullopt;
  std::wstring wantedKey = subkey;
  while (!wantedKey.empty() && wantedKey.back() == L'\\') wantedKey.pop_back();

  bool inKey = false;
  std::string rawLine;
  while (std::getline(file, rawLine)) {
    if (!rawLine.empty() && rawLine.back() == '\r') rawLine.pop_back();
    const std::wstring line = posix::FromUtf8(rawLine);
    std::wstring section;
    if (SectionName(line, section)) {
      inKey = EqualsIgnoringCase(section, wantedKey);
      continue;
    }
    std::wstring valueName;
    std::size_t afterName = 0;
    if (!inKey || !Unquote(line, 0, valueName, &afterName) || !EqualsIgnoringCase(valueName, name)) continue;
    std::size_t valueStart = afterName + 1;  // past the '='
    if (line.compare(afterName, 1, L"=") != 0) return std::nullopt;
    if (line.compare(valueStart, 7, L"str(2):") == 0) valueStart += 7;
    std::wstring value;
    if (!Unquote(line, valueStart, value)) return std::nullopt;
    // The value must fit the caller's buffer with its terminator.
    if (value.size() + 1 > maxUnits || value.find(L'\0') != std::wstring::npos) return std::nullopt;
    std::wstring resolved = ResolveDrivePath(prefix, value);
    if (resolved.size() + 1 > maxUnits) return std::nullopt;
    return resolved;
  }
  return std::nullopt;
}

}  // namespace platform
