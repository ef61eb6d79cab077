// Shared by the packer tests: a source tree in a fresh temporary directory,
// a package file beside it, and an independent reader for what the packer
// writes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/unique_file.h"
#include "test_files.h"


// One record as it stands in a package.
struct PackedRecord {
  std::wstring path;  // the PackagePath's UTF-16 units
  platform::FileTimes times;
  Bytes stream;   // the zlib stream as written
  Bytes content;  // the stream inflated
};

// Reads the records of a payload (no trailer) back to back, finding the end
// of each stream from zlib. A malformed record fails the test.
std::vector<PackedRecord> ParseRecords(const Bytes& payload);

// The paths of the records, in package order.
std::vector<std::wstring> PathsOf(const std::vector<PackedRecord>& records);

// Content of `size` bytes that is partly compressible, partly not.
Bytes MixedContent(std::size_t size);

// Runs `action` and returns what it sent to the debugger output, as UTF-8;
// nothing where the debugger output cannot be read back in-process
// (Windows hands it to an attached debugger).
std::optional<std::string> CaptureDebugOutput(const std::function<void()>& action);

// ASCII text as UTF-8 lines to compare with captured output.
std::string Narrow(const std::wstring& ascii);

// An ASCII program path as the trace names it where CaptureDebugOutput
// reads the trace back, on POSIX: with "/" between its components.
std::string AsTraced(const std::wstring& ascii);

// Each test gets <temp>\quorvane-packer-<random>\src as g_sourceRoot and
// <temp>\...\package.bin, open "w+b", as g_packageOut.
class PackerTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // root_ joined with `relative` ("d\x").
  std::wstring SourcePath(const std::wstring& relative) const;
  void MakeDirectory(const std::wstring& relative) const;
  void MakeFile(const std::wstring& relative, const Bytes& content = {}) const;
  // Everything written to package_ so far.
  Bytes PackageBytes() const;
  // The records packed by AppendTree(root_); the walk must succeed.
  std::vector<PackedRecord> PackTree() const;

  std::filesystem::path base_;  // the temporary directory
  std::wstring root_;           // base_\src
  platform::UniqueFile package_;
};
