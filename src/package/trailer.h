// The package trailer: writing it after the records, and finding the first
// record of a carrier from it.
#pragma once

#include <cstdint>
#include <cstdio>

namespace package {

// Writes "feof" and the payload length: the 8 bytes that close a package.
bool WritePackageTrailer(std::FILE* carrier, std::uint32_t payloadLength);

enum class LocateResult {
  kNoPackage,  // no trailer ends the carrier, nor its part before a signature
  kDamaged,    // a trailer whose payload length reaches before the carrier
  kTooLarge,   // a carrier of kMaxCarrierSize or more, which Windows cannot
               // read a package from
  kFound,      // the stream stands on the first record's tag
};

// Where a package stands in its carrier: from its first record's tag (or
// its trailer's, when it is empty) to the byte after its trailer.
struct PackageBounds {
  long start = 0;
  long end = 0;
};

// Reads the trailer from the end of the carrier and seeks to the first
// record, or to the trailer's own tag for an empty package. In a signed
// carrier the trailer stands before the signature's certificate table and
// the zeros that align it (see signed_carrier.h).
LocateResult LocatePackage(std::FILE* carrier);

// The same, and sets `bounds` when the package is found.
LocateResult LocatePackage(std::FILE* carrier, PackageBounds& bounds);

}  // namespace package
