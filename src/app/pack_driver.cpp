// Pack mode: appends one package, the records of every file under "src"
// and the trailer, to the target.
#include "app/drivers.h"
#include "app/globals.h"
#include "app/messages.h"
#include "package/layout.h"
#include "package/trailer.h"
#include "packer/append_tree.h"
#include "packer/package_output.h"
#include "platform/platform.h"
#include "platform/unique_file.h"

namespace {

std::size_t g_filesLeftOut = 0;

// The source root, "src" under the current directory; empty when the
// current directory is too long to join with it.
std::wstring SourceRoot() {
  std::wstring root = platform::CurrentDirectory();
  if (root.empty() || !platform::JoinPath(root, L"src")) return std::wstring();
  return root;
}

// Walks the tree into `target` and closes the package with its trailer.
// False when any byte could not be written or the carrier would reach the
// largest size a reader can seek in (traced with that reason).
bool AppendPackage(std::FILE* target, long start, const std::wstring& root) {
  // A carrier that is too big already fails before the walk.
  if (!packer::CarrierHasRoomFor(target, 0)) return false;
  g_sourceRoot = root;
  g_packageOut = target;
  const bool walked = AppendTree(root, &g_filesLeftOut);
  g_packageOut = nullptr;
  const long end = std::ftell(target);
  if (!walked || end < start || !packer::CarrierHasRoomFor(target, 0)) return false;
  return package::WritePackageTrailer(target, static_cast<std::uint32_t>(end - start)) &&
         std::fflush(target) == 0;
}

}  // namespace

std::size_t FilesLeftOutOfLastPack() { return g_filesLeftOut; }

int RunPackMode(const std::wstring& target) {
  g_filesLeftOut = 0;
  const std::wstring root = SourceRoot();
  // Both paths must fit the program's path buffers; the target is not
  // created when they do not.
  if (target.size() + 1 > platform::kMaxPath || root.empty()) {
    ShowOutputOpenError();
    return 0;
  }
  platform::UniqueFile stream(platform::OpenFile(target, "ab"));
  if (!stream) {
    ShowOutputOpenError();
    return 0;
  }
  // Append mode writes at the end; seek there too so ftell tells the
  // carrier's size before the package. Where long has 32 bits (Windows),
  // ftell fails on a carrier of 2 GiB or more, which is too big anyway, and
  // nothing is written.
  std::fseek(stream.get(), 0, SEEK_END);
  const long start = std::ftell(stream.get());
  if (start < 0 || !AppendPackage(stream.get(), start, root)) {
    // Leave nothing half-written: the carrier goes back to what it was,
    // whatever its size.
    if (start >= 0) platform::TruncateFile(stream.get(), static_cast<std::uint64_t>(start));
    g_filesLeftOut = 0;
    ShowOutputWriteError();
  }
  return 0;
}
