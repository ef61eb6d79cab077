// Helpers that the unit tests share.
#include "test_files.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "platform/platform.h"
#include "platform/unique_file.h"

std::wstring ToProgramPath(const std::filesystem::path& path) {
  std::wstring units;
  for (const char16_t unit : path.u16string()) units += unit == u'/' ? L'\\' : static_cast<wchar_t>(unit);
  return units;
}

Bytes ReadWholeFile(const std::filesystem::path& path) {
  platform::UniqueFile file(platform::OpenFile(ToProgramPath(path), "rb"));
  Bytes bytes;
  if (!file) return bytes;
  unsigned char buffer[4096];
  std::size_t read = 0;
  while ((read = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) bytes.insert(bytes.end(), buffer, buffer + read);
  return bytes;
}

Bytes CompressAtLevel6(const Bytes& content) {
  uLongf size = compressBound(static_cast<uLong>(content.size()));
  Bytes stream(size);
  EXPECT_EQ(compress2(stream.data(), &size, content.data(), static_cast<uLong>(content.size()), 6), Z_OK);
  stream.resize(size);
  return stream;
}
