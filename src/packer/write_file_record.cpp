// The record writer: checks, record head and stream of one source file.
#include "packer/write_file_record.h"

#include <limits>
#include <vector>

#include "app/globals.h"
#include "package/fields.h"
#include "package/layout.h"
#include "packer/compress_file_to_package.h"
#include "packer/debug_trace.h"
#include "packer/package_output.h"

namespace packer {
namespace {

// The package is appended to while the walk runs; packing its own file
// would read a file that grows as it is read.
bool IsPackageItself(std::FILE* package, const platform::FileIdentity& source) {
  const std::optional<platform::FileIdentity> output = platform::IdentityOfStream(package);
  return output && *output == source;
}

bool WriteRecordHead(std::FILE* package, const std::wstring& relativePath, const platform::FileTimes& times) {
  return CarrierHasRoomFor(package, package::RecordHeadSize(relativePath.size())) &&
         package::WriteTag(package, package::kFileTag) && WritePackagePath(package, relativePath) &&
         package::WriteU64(package, times.creation) && package::WriteU64(package, times.lastAccess) &&
         package::WriteU64(package, times.lastWrite);
}

}  // namespace

bool ReadSourceFileTimes(const std::wstring& path, platform::FileTimes& times) {
  return platform::ReadFileTimes(path, times);
}

bool WritePackagePath(std::FILE* package, const std::wstring& path) {
  if (path.size() > std::numeric_limits<std::uint16_t>::max()) return false;
  std::vector<unsigned char> bytes;
  bytes.reserve(2 * path.size());
  for (const wchar_t unit : path) {
    bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
    bytes.push_back(static_cast<unsigned char>((unit >> 8) & 0xFF));
  }
  return package::WriteU16(package, static_cast<std::uint16_t>(path.size())) &&
         std::fwrite(bytes.data(), 1, bytes.size(), package) == bytes.size();
}

RecordResult WriteFileRecord(std::FILE* package, const std::wstring& sourcePath) {
  const std::optional<platform::FileIdentity> source = platform::IdentityOf(sourcePath);
  if (!source) return RecordResult::kSkipped;
  if (IsPackageItself(package, *source)) {
    DebugTrace(L"left out, the package is being written to it: %ls\n",
               platform::DisplayPath(sourcePath).c_str());
    return RecordResult::kSkipped;
  }
  platform::FileTimes times;
  if (!ReadSourceFileTimes(sourcePath, times)) return RecordResult::kSkipped;
  const std::wstring relativePath = platform::RelativePath(g_sourceRoot, sourcePath);
  if (relativePath.empty()) return RecordResult::kSkipped;

  CompressFileToPackage compression;
  if (!compression.Start(package, sourcePath)) return RecordResult::kSkipped;
  if (!WriteRecordHead(package, relativePath, times) || !compression.Run()) {
    return RecordResult::kPackageBroken;
  }
  return RecordResult::kWritten;
}

}  // namespace packer
