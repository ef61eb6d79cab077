// Shared by the applier tests: packages built byte by byte in the test, a
// carrier file that holds them, and the record loop of apply mode run over
// it with g_installDir set to a fresh temporary directory.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "package/trailer.h"
#include "platform/platform.h"
#include "test_files.h"

namespace applier_test {

using ::Bytes;
using ::ReadWholeFile;
using ::ToProgramPath;

// Times with odd 100 ns digits, so that any rounding shows.
constexpr platform::FileTimes kRecordTimes = {130740581495118894, 130740807436702849, 130740807436702848};

// A whole "file" record: tag, u16 unit count, the path's UTF-16LE units
// (each wchar_t one unit, so L'\0' gives a zero unit), the three times and
// the stream.
Bytes FileRecord(const std::wstring& path, const Bytes& stream,
                 const platform::FileTimes& times = kRecordTimes);

// A record for `content` at `path`.
Bytes FileRecordOf(const std::wstring& path, const Bytes& content);

// Bytes that compress well in places and not at all in others.
Bytes MixedContent(std::size_t size, std::uint32_t seed = 1);
// Bytes that do not compress.
Bytes Noise(std::size_t size, std::uint32_t seed = 1);

// The records followed by a trailer: "feof" and their length, or
// `payloadLength` to describe a damaged trailer.
Bytes Package(const Bytes& records);
Bytes PackageWithLength(const Bytes& records, std::uint32_t payloadLength);

Bytes Concat(std::initializer_list<Bytes> parts);

void WriteWholeFile(const std::filesystem::path& path, const Bytes& content);

// Every file and directory below `root`, as sorted generic paths relative
// to it; directories end in "/".
std::vector<std::string> TreeUnder(const std::filesystem::path& root);

// Every file and directory below `root`, by TreeUnder's names, with each
// file's content and last-write time: what a failed update must leave as it
// found it. Directories map to an empty entry.
struct FileState {
  Bytes content;
  std::int64_t lastWrite = 0;
  bool operator==(const FileState& other) const {
    return content == other.content && lastWrite == other.lastWrite;
  }
};
using TreeSnapshot = std::map<std::string, FileState>;
TreeSnapshot SnapshotUnder(const std::filesystem::path& root);

// What apply mode did with a carrier: how the package was located, the
// result of each ApplyNextRecord call, in order, and whether the update was
// committed (when every record was staged).
struct ApplyRun {
  package::LocateResult located = package::LocateResult::kNoPackage;
  std::vector<int> results;
  bool committed = false;
};

// Each test gets <temp>\quorvane-applier-<random>\install as g_installDir
// and <temp>\...\carrier.exe for its package.
class ApplierTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The carrier: a stand-in program image followed by `packages`.
  void WriteCarrier(const Bytes& packages) const;

  // Locates the package and applies it as the apply driver does: stages
  // each record while the carrier is not at its end, until a result other
  // than 1, then commits when no record failed.
  ApplyRun ApplyCarrier() const;

  // install_ joined with a generic relative path ("d/x.txt").
  std::filesystem::path Installed(const std::string& relative) const { return install_ / relative; }

  std::filesystem::path base_;     // the temporary directory
  std::filesystem::path install_;  // base_/install, the install directory
  std::filesystem::path carrier_;  // base_/carrier.exe
};

}  // namespace applier_test
