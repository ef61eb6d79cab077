// The path of a "file" record: a u16 count, then that many UTF-16LE units.
#include "applier/read_package_path.h"

#include "package/fields.h"

namespace applier {

std::wstring ReadPackagePath(std::FILE* package) {
  std::uint16_t count = 0;
  if (!package::ReadU16(package, count)) return std::wstring();
  std::wstring path;
  for (std::uint16_t i = 0; i < count; ++i) {
    std::uint16_t unit = 0;
    // A path cut short is no path: the caller fails the record on empty.
    if (!package::ReadU16(package, unit)) return std::wstring();
    // The package holds no terminator, so a 0 unit ends nothing.
    if (unit != 0) path += static_cast<wchar_t>(unit);
  }
  return path;
}

}  // namespace applier
