// The size limit of the carrier, checked before each write to the package.
#include "packer/package_output.h"

#include "package/layout.h"
#include "packer/debug_trace.h"
#include "packer/record_output.h"

namespace packer {

bool CarrierHasRoomFor(std::FILE* package, std::uint64_t count) {
  // ftell's offset is a 32-bit long on Windows and fails past 2 GiB, so the
  // check must come before the write that would get there.
  const long position = std::ftell(package);
  if (position >= 0 &&
      static_cast<std::uint64_t>(position) + count + package::kTrailerSize < package::kMaxCarrierSize) {
    return true;
  }
  DebugTrace(L"the patch would reach 2 GiB, more than a patch can hold\n");
  return false;
}

bool WriteToPackage(std::FILE* package, const void* bytes, std::size_t count) {
  return CarrierHasRoomFor(package, count) && std::fwrite(bytes, 1, count, package) == count;
}

bool PackageStreamOutput::Write(const void* bytes, std::size_t count) {
  return WriteToPackage(package_, bytes, count);
}

}  // namespace packer
