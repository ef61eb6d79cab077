// Reading and writing the fixed-size little-endian fields of a package on a
// stdio stream, independent of the host's byte order.
#pragma once

#include <cstdint>
#include <cstdio>

#include "package/layout.h"

namespace package {

// Each writer returns true when every byte was written, each reader true
// when every byte was read; a short read leaves `value` unspecified.
bool WriteTag(std::FILE* stream, const RecordTag& tag);
bool ReadTag(std::FILE* stream, RecordTag& tag);
bool TagEquals(const RecordTag& a, const RecordTag& b);

bool WriteU16(std::FILE* stream, std::uint16_t value);
bool WriteU32(std::FILE* stream, std::uint32_t value);
bool WriteU64(std::FILE* stream, std::uint64_t value);
bool ReadU16(std::FILE* stream, std::uint16_t& value);
bool ReadU32(std::FILE* stream, std::uint32_t& value);
bool ReadU64(std::FILE* stream, std::uint64_t& value);

}  // namespace package
