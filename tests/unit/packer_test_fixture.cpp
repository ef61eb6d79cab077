// The packer tests' temporary tree, package reader and output capture.
#include "packer_test_fixture.h"

#include <zlib.h>

#include <algorithm>
#include <random>

#include "app/globals.h"
#include "packer/append_tree.h"

namespace {

std::uint64_t ReadLittleEndian(const Bytes& bytes, std::size_t at, std::size_t size) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < size; ++i) value |= std::uint64_t{bytes[at + i]} << (8 * i);
  return value;
}

// Inflates the stream starting at `at`; its length goes to `used`.
bool InflateFrom(const Bytes& bytes, std::size_t at, Bytes& content, std::size_t& used) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return false;
  stream.next_in = const_cast<unsigned char*>(bytes.data() + at);
  stream.avail_in = static_cast<uInt>(bytes.size() - at);
  unsigned char buffer[4096];
  int result = Z_OK;
  while (result == Z_OK) {
    stream.next_out = buffer;
    stream.avail_out = sizeof buffer;
    result = inflate(&stream, Z_NO_FLUSH);
    content.insert(content.end(), buffer, buffer + (sizeof buffer - stream.avail_out));
  }
  used = bytes.size() - at - stream.avail_in;
  inflateEnd(&stream);
  return result == Z_STREAM_END;
}

}  // namespace

std::vector<PackedRecord> ParseRecords(const Bytes& payload) {
  std::vector<PackedRecord> records;
  std::size_t at = 0;
  while (at < payload.size()) {
    if (payload.size() - at < 6 || std::string(payload.begin() + at, payload.begin() + at + 4) != "file") {
      ADD_FAILURE() << "no record tag at offset " << at;
      return records;
    }
    const std::size_t units = ReadLittleEndian(payload, at + 4, 2);
    const std::size_t timesAt = at + 6 + 2 * units;
    if (payload.size() < timesAt + 24) {
      ADD_FAILURE() << "record head cut short at offset " << at;
      return records;
    }
    PackedRecord record;
    for (std::size_t i = 0; i < units; ++i) {
      record.path += static_cast<wchar_t>(ReadLittleEndian(payload, at + 6 + 2 * i, 2));
    }
    record.times.creation = ReadLittleEndian(payload, timesAt, 8);
    record.times.lastAccess = ReadLittleEndian(payload, timesAt + 8, 8);
    record.times.lastWrite = ReadLittleEndian(payload, timesAt + 16, 8);
    std::size_t used = 0;
    if (!InflateFrom(payload, timesAt + 24, record.content, used)) {
      ADD_FAILURE() << "no whole zlib stream at offset " << timesAt + 24;
      return records;
    }
    record.stream.assign(payload.begin() + timesAt + 24, payload.begin() + timesAt + 24 + used);
    at = timesAt + 24 + used;
    records.push_back(record);
  }
  return records;
}

std::vector<std::wstring> PathsOf(const std::vector<PackedRecord>& records) {
  std::vector<std::wstring> paths;
  for (const PackedRecord& record : records) paths.push_back(record.path);
  return paths;
}

Bytes MixedContent(std::size_t size) {
  Bytes content;
  content.reserve(size);
  std::uint32_t state = 12345;
  const std::string phrase = "Quorvane patch data, repeated to give deflate matches. ";
  while (content.size() < size) {
    state = state * 1103515245u + 12345u;
    if ((state >> 16) % 3 == 0) {
      for (std::size_t i = 0; i < phrase.size() && content.size() < size; ++i) content.push_back(phrase[i]);
    } else {
      for (int i = 0; i < 97 && content.size() < size; ++i) {
        state = state * 1103515245u + 12345u;
        content.push_back(static_cast<unsigned char>(state >> 24));
      }
    }
  }
  return content;
}

std::optional<std::string> CaptureDebugOutput(const std::function<void()>& action) {
  testing::internal::CaptureStderr();
  platform::DebugOutput(L"probe");
  if (testing::internal::GetCapturedStderr() != "probe") {
    action();
    return std::nullopt;
  }
  testing::internal::CaptureStderr();
  action();
  return testing::internal::GetCapturedStderr();
}

std::string Narrow(const std::wstring& ascii) { return std::string(ascii.begin(), ascii.end()); }

std::string AsTraced(const std::wstring& ascii) {
  std::string traced = Narrow(ascii);
  std::replace(traced.begin(), traced.end(), '\\', '/');
  return traced;
}

void PackerTest::SetUp() {
  std::random_device random;
  base_ = std::filesystem::temp_directory_path() /
          ("quorvane-packer-" + std::to_string(random()) + std::to_string(random()));
  std::filesystem::create_directories(base_ / "src");
  root_ = ToProgramPath(base_ / "src");
  package_.reset(platform::OpenFile(ToProgramPath(base_ / "package.bin"), "w+b"));
  ASSERT_TRUE(package_);
  g_sourceRoot = root_;
  g_packageOut = package_.get();
}

void PackerTest::TearDown() {
  g_sourceRoot.clear();
  g_packageOut = nullptr;
  package_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(base_, ignored);
}

std::wstring PackerTest::SourcePath(const std::wstring& relative) const { return root_ + L"\\" + relative; }

void PackerTest::MakeDirectory(const std::wstring& relative) const {
  platform::MakeDirectory(SourcePath(relative));
  ASSERT_TRUE(platform::IsDirectory(SourcePath(relative)));
}

void PackerTest::MakeFile(const std::wstring& relative, const Bytes& content) const {
  platform::UniqueFile file(platform::OpenFile(SourcePath(relative), "wb"));
  ASSERT_TRUE(file);
  // An empty vector's data() may be null, which fwrite must not get.
  if (content.empty()) return;
  ASSERT_EQ(std::fwrite(content.data(), 1, content.size(), file.get()), content.size());
}

Bytes PackerTest::PackageBytes() const {
  std::fflush(package_.get());
  return ReadWholeFile(base_ / "package.bin");
}

std::vector<PackedRecord> PackerTest::PackTree() const {
  EXPECT_TRUE(AppendTree(root_));
  return ParseRecords(PackageBytes());
}
