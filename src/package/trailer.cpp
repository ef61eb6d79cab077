// Package trailer writing and locating.
#include "package/trailer.h"

#include "package/fields.h"
#include "package/layout.h"

namespace package {

bool WritePackageTrailer(std::FILE* carrier, std::uint32_t payloadLength) {
  return WriteTag(carrier, kEndTag) && WriteU32(carrier, payloadLength);
}

LocateResult LocatePackage(std::FILE* carrier) {
  if (std::fseek(carrier, 0, SEEK_END) != 0) return LocateResult::kNoPackage;
  const long size = std::ftell(carrier);
  if (size < static_cast<long>(kTrailerSize)) return LocateResult::kNoPackage;
  RecordTag tag;
  std::uint32_t payloadLength = 0;
  if (std::fseek(carrier, size - static_cast<long>(kTrailerSize), SEEK_SET) != 0 ||
      !ReadTag(carrier, tag) || !TagEquals(tag, kEndTag)) {
    return LocateResult::kNoPackage;
  }
  if (!ReadU32(carrier, payloadLength)) return LocateResult::kNoPackage;
  const std::uint64_t packageSize = std::uint64_t{payloadLength} + kTrailerSize;
  if (packageSize > static_cast<std::uint64_t>(size)) return LocateResult::kDamaged;
  if (std::fseek(carrier, size - static_cast<long>(packageSize), SEEK_SET) != 0) {
    return LocateResult::kDamaged;
  }
  return LocateResult::kFound;
}

}  // namespace package
