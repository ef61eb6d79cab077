// Verifying a patch: the walk with apply mode's reader, the applier's path
// rules on every record, and the package's place against the signature.
#include "publisher/package_verifier.h"

#include <cstdint>
#include <optional>

#include "applier/contained_path.h"
#include "applier/side_files.h"
#include "package/signed_carrier.h"
#include "platform/platform.h"
#include "platform/posix/native_path.h"
#include "publisher/file_folder_clashes.h"
#include "publisher/package_walk.h"
#include "publisher/patch_report.h"

namespace publisher {
namespace {

// Why apply mode would refuse `path`, or empty when it would write it.
std::string PathFault(const std::wstring& path) {
  if (!applier::IsContainedPackagePath(path)) {
    return "its path would leave the game's folder, names a device that Windows reserves, or holds a name that "
           "Windows does not allow";
  }
  // Joined to an empty folder, as the applier joins it, and with room for
  // the names the applier gives the files it keeps beside it: a path that
  // does not fit even then fits under no game folder.
  std::wstring joined;
  if (!platform::JoinPath(joined, path) || !applier::SideFileNamesFit(joined)) {
    return "its path is too long for any game folder";
  }
  return std::string();
}

enum class Signing {
  kUnsigned,
  kPackageSigned,   // the package stands before the certificate table
  kPackedAfter,     // the package follows the certificate table
  kOverlapping,     // the package and the table share bytes
  kUnreadable,
};

// Where the package stands against the certificate table, if there is one.
// The package was located at the end of the patch or right before a table
// that ends it (and its alignment zeros), so nothing else follows it.
Signing SigningOf(std::FILE* patch, const package::PackageBounds& bounds) {
  if (std::fseek(patch, 0, SEEK_END) != 0) return Signing::kUnreadable;
  const long size = std::ftell(patch);
  const std::optional<package::CertificateTable> table = package::FindCertificateTable(patch, size);
  if (!table) return Signing::kUnsigned;
  if (static_cast<std::uint64_t>(bounds.end) <= table->offset) return Signing::kPackageSigned;
  if (table->offset + table->size <= static_cast<std::uint64_t>(bounds.start)) return Signing::kPackedAfter;
  return Signing::kOverlapping;
}

}  // namespace

bool VerifyPackage(const std::wstring& patchPath, std::ostream& out, std::ostream& err) {
  const platform::UniqueFile patch = OpenPatch(patchPath, err);
  if (!patch) return false;
  std::uint64_t files = 0;
  std::uint64_t removals = 0;
  std::uint64_t size = 0;
  std::string pathFault;
  FileFolderClashes clashes;
  const WalkEnd end = WalkPackage(patch.get(), [&](const WalkedRecord& record) {
    std::string fault = PathFault(record.path);
    if (fault.empty()) {
      if (const auto earlier = clashes.Add(record.offset, record.path)) {
        fault = "its path needs a file and a folder of one name with " +
                DescribeRecord(earlier->offset, earlier->path) + ", which no game folder can hold";
      }
    }
    if (!fault.empty()) {
      pathFault = DescribeRecord(record.offset, record.path) + ": " + fault;
      return false;
    }
    if (record.kind == package::RecordKind::kRemoval) {
      ++removals;
    } else {
      ++files;
      size += record.size;
    }
    return true;
  });
  if (end.fault != WalkFault::kNone) {
    ReportFailure(err, patchPath, end.fault == WalkFault::kStopped ? pathFault : DescribeFault(end));
    return false;
  }
  const Signing signing = SigningOf(patch.get(), end.bounds);
  switch (signing) {
    case Signing::kUnreadable:
      ReportFailure(err, patchPath, "its size cannot be read");
      return false;
    case Signing::kPackedAfter:
      ReportFailure(err, patchPath,
                    "the package was appended after the patch was signed: it lies outside what the signature "
                    "covers; pack an unsigned copy, then sign it");
      return false;
    case Signing::kOverlapping:
      ReportFailure(err, patchPath, "the package overlaps the signature's certificate table");
      return false;
    case Signing::kUnsigned:
    case Signing::kPackageSigned:
      break;
  }
  out << platform::posix::ToUtf8(patchPath) << ": " << files << (files == 1 ? " file, " : " files, ");
  if (removals != 0) out << removals << (removals == 1 ? " removal, " : " removals, ");
  out << size << " bytes: would apply cleanly; "
      << (signing == Signing::kPackageSigned ? "the signature covers the package" : "not signed") << '\n';
  return true;
}

}  // namespace publisher
