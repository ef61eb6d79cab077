// Package trailer writing and locating.
#include "package/trailer.h"

#include <optional>

#include "package/fields.h"
#include "package/layout.h"
#include "package/signed_carrier.h"
#include "platform/platform.h"

namespace package {
namespace {

// Locates the package whose trailer ends at `end`: kNoPackage when the 8
// bytes before `end` do not begin with "feof".
LocateResult LocateBefore(std::FILE* carrier, long end, PackageBounds& bounds) {
  if (end < static_cast<long>(kTrailerSize)) return LocateResult::kNoPackage;
  RecordTag tag;
  std::uint32_t payloadLength = 0;
  if (std::fseek(carrier, end - static_cast<long>(kTrailerSize), SEEK_SET) != 0 ||
      !ReadTag(carrier, tag) || !TagEquals(tag, kEndTag) || !ReadU32(carrier, payloadLength)) {
    return LocateResult::kNoPackage;
  }
  const std::uint64_t packageSize = std::uint64_t{payloadLength} + kTrailerSize;
  if (packageSize > static_cast<std::uint64_t>(end)) return LocateResult::kDamaged;
  if (std::fseek(carrier, end - static_cast<long>(packageSize), SEEK_SET) != 0) {
    return LocateResult::kDamaged;
  }
  bounds = PackageBounds{end - static_cast<long>(packageSize), end};
  return LocateResult::kFound;
}

}  // namespace

bool WritePackageTrailer(std::FILE* carrier, std::uint32_t payloadLength) {
  return WriteTag(carrier, kEndTag) && WriteU32(carrier, payloadLength);
}

LocateResult LocatePackage(std::FILE* carrier) {
  PackageBounds unused;
  return LocatePackage(carrier, unused);
}

LocateResult LocatePackage(std::FILE* carrier, PackageBounds& bounds) {
  // Told before any position is measured: past the limit, Windows' stream
  // functions cannot tell one, and the package would seem to be missing.
  const std::optional<std::uint64_t> carrierSize = platform::SizeOfStream(carrier);
  if (carrierSize && *carrierSize >= kMaxCarrierSize) return LocateResult::kTooLarge;
  if (std::fseek(carrier, 0, SEEK_END) != 0) return LocateResult::kNoPackage;
  const long size = std::ftell(carrier);
  if (size < 0) return LocateResult::kNoPackage;
  const LocateResult atEnd = LocateBefore(carrier, size, bounds);
  if (atEnd != LocateResult::kNoPackage) return atEnd;
  // A signed carrier ends in its signature, which stands after the package.
  const std::optional<long> signedEnd = SignedPackageEnd(carrier, size);
  return signedEnd ? LocateBefore(carrier, *signedEnd, bounds) : LocateResult::kNoPackage;
}

}  // namespace package
