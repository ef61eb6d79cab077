// Finding the end of a package in a signed carrier: code signing appends a
// certificate table to the PE file, after the package and its trailer.
#pragma once

#include <cstdio>
#include <optional>

namespace package {

// The position right after the package's trailer in a carrier of `size`
// bytes that is a PE file whose certificate table ends the file: the table's
// start, less the zero bytes (at most 7) that align the table to 8 bytes.
// Nothing when the carrier is no such file, or when no trailer tag stands
// right before the table and its padding. Moves the stream's position.
std::optional<long> SignedPackageEnd(std::FILE* carrier, long size);

}  // namespace package
