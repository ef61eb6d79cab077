// The record writer: checks, record head and stream of one source file.
#include "packer/write_file_record.h"

#include <limits>

#include "app/globals.h"
#include "package/layout.h"
#include "packer/compress_file_to_package.h"

namespace packer {
namespace {

void AppendLittleEndian(std::vector<unsigned char>& bytes, std::uint64_t value, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// The head goes out in one write, so that the package's size limit is
// checked for all of it before any of it is written.
bool WriteRecordHead(RecordOutput& output, const std::wstring& relativePath, const platform::FileTimes& times) {
  std::vector<unsigned char> head(package::kFileTag, package::kFileTag + package::kTagSize);
  if (!WritePackagePath(head, relativePath)) return false;
  for (const platform::FileTime time : {times.creation, times.lastAccess, times.lastWrite}) {
    AppendLittleEndian(head, time, package::kFileTimeSize);
  }
  return output.Write(head.data(), head.size());
}

RecordOutcome Skipped(LeftOutBecause why) { return RecordOutcome{RecordResult::kSkipped, why}; }

}  // namespace

bool ReadSourceFileTimes(const std::wstring& path, platform::FileTimes& times) {
  return platform::ReadFileTimes(path, times);
}

bool WritePackagePath(std::vector<unsigned char>& head, const std::wstring& path) {
  if (path.size() > std::numeric_limits<std::uint16_t>::max()) return false;
  AppendLittleEndian(head, path.size(), package::kUnitCountSize);
  for (const wchar_t unit : path) AppendLittleEndian(head, static_cast<std::uint16_t>(unit), 2);
  return true;
}

RecordOutcome WriteFileRecordTo(RecordOutput& output, const std::wstring& sourceRoot, const std::wstring& sourcePath,
                                const std::optional<platform::FileIdentity>& package) {
  const std::optional<platform::FileIdentity> source = platform::IdentityOf(sourcePath);
  if (!source) return Skipped(LeftOutBecause::kCannotBeRead);
  // The package is appended to while the walk runs; packing its own file
  // would read a file that grows as it is read.
  if (package && *package == *source) return Skipped(LeftOutBecause::kIsThePackage);
  platform::FileTimes times;
  if (!ReadSourceFileTimes(sourcePath, times)) return Skipped(LeftOutBecause::kTimesUnreadable);
  const std::wstring relativePath = platform::RelativePath(sourceRoot, sourcePath);
  if (relativePath.empty()) return Skipped(LeftOutBecause::kOutsideTheRoot);

  CompressFileToPackage compression;
  if (!compression.Start(output, sourcePath)) return Skipped(LeftOutBecause::kCannotBeRead);
  if (!WriteRecordHead(output, relativePath, times) || !compression.Run()) {
    return RecordOutcome{RecordResult::kPackageBroken, LeftOutBecause::kNothing};
  }
  return RecordOutcome{};
}

RecordResult WriteFileRecord(std::FILE* package, const std::wstring& sourcePath) {
  PackageStreamOutput output(package);
  return WriteFileRecordTo(output, g_sourceRoot, sourcePath, platform::IdentityOfStream(package)).result;
}

}  // namespace packer
