// Writing to the package stream within the largest carrier a reader can
// seek in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace packer {

// True when `count` more bytes and the trailer still leave the carrier
// behind `package` below package::kMaxCarrierSize. False too when the
// stream's position cannot be told (on Windows, past 2 GiB); a false is
// traced with its reason.
bool CarrierHasRoomFor(std::FILE* package, std::uint64_t count);

// Writes `count` bytes to the package when CarrierHasRoomFor allows them.
// True when every byte was written; false when nothing was written for
// lack of room, or the write failed.
bool WriteToPackage(std::FILE* package, const void* bytes, std::size_t count);

}  // namespace packer
