// Helpers that the unit tests share: byte buffers, program paths for test
// directories, whole-file reads and zlib's reference streams.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

// A program path (UTF-16 units, "\" separators) for a file system path.
std::wstring ToProgramPath(const std::filesystem::path& path);

// The whole content of a file; empty when it cannot be read.
Bytes ReadWholeFile(const std::filesystem::path& path);

// The zlib stream of `content`, as zlib's compress2 gives it at level 6.
Bytes CompressAtLevel6(const Bytes& content);
