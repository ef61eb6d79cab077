// Finding the end of a package in a signed carrier: code signing appends a
// certificate table to the PE file, after the package and its trailer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>

namespace package {

// Where the certificate table of a PE file stands, as its header says.
struct CertificateTable {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};

// The certificate table that the PE header of a carrier of `size` bytes
// names, when the table is not empty and lies within the file, wherever it
// stands there; nothing for an unsigned PE file, a carrier that is no PE
// file or one with a damaged header. Moves the stream's position.
std::optional<CertificateTable> FindCertificateTable(std::FILE* carrier, long size);

// The position right after the package's trailer in a carrier of `size`
// bytes that is a PE file whose certificate table ends the file: the table's
// start, less the zero bytes (at most 7) that align the table to 8 bytes.
// Nothing when the carrier is no such file, or when no trailer tag stands
// right before the table and its padding. Moves the stream's position.
std::optional<long> SignedPackageEnd(std::FILE* carrier, long size);

}  // namespace package
