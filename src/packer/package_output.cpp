// The size limit of the carrier, checked before each write to the package.
#include "packer/package_output.h"

#include "package/layout.h"

namespace packer {

bool CarrierHasRoomFor(std::FILE* package, std::uint64_t count) {
  // ftell's offset is a 32-bit long on Windows and fails past 2 GiB, so the
  // check must come before the write that would get there.
  const long position = std::ftell(package);
  return position >= 0 &&
         static_cast<std::uint64_t>(position) + count + package::kTrailerSize < package::kMaxCarrierSize;
}

bool WriteToPackage(std::FILE* package, const void* bytes, std::size_t count) {
  return CarrierHasRoomFor(package, count) && std::fwrite(bytes, 1, count, package) == count;
}

}  // namespace packer
