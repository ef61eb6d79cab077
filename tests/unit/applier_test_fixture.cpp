// The applier tests' package builder, carrier and temporary install tree.
#include "applier_test_fixture.h"

#include <zlib.h>

#include <algorithm>
#include <random>

#include "app/globals.h"
#include "applier/apply_records.h"
#include "platform/unique_file.h"

namespace applier_test {
namespace {

void AppendLittleEndian(Bytes& out, std::uint64_t value, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void AppendText(Bytes& out, const char* text) {
  out.insert(out.end(), text, text + std::char_traits<char>::length(text));
}

}  // namespace

Bytes FileRecord(const std::wstring& path, const Bytes& stream, const platform::FileTimes& times) {
  Bytes record;
  AppendText(record, "file");
  AppendLittleEndian(record, path.size(), 2);
  for (const wchar_t unit : path) AppendLittleEndian(record, static_cast<std::uint16_t>(unit), 2);
  AppendLittleEndian(record, times.creation, 8);
  AppendLittleEndian(record, times.lastAccess, 8);
  AppendLittleEndian(record, times.lastWrite, 8);
  record.insert(record.end(), stream.begin(), stream.end());
  return record;
}

Bytes FileRecordOf(const std::wstring& path, const Bytes& content) {
  return FileRecord(path, CompressAtLevel6(content));
}

Bytes MixedContent(std::size_t size, std::uint32_t seed) {
  static const char kPhrase[] = "Quorvane data block, repeated so that deflate finds matches. ";
  const Bytes noise = Noise(size, seed);
  Bytes content(size);
  // Runs of 200 bytes, alternately text and noise.
  for (std::size_t i = 0; i < size; ++i) {
    content[i] =
        (i / 200) % 2 == 0 ? static_cast<unsigned char>(kPhrase[i % (sizeof kPhrase - 1)]) : noise[i];
  }
  return content;
}

Bytes Noise(std::size_t size, std::uint32_t seed) {
  Bytes content(size);
  std::uint32_t state = seed;
  for (unsigned char& byte : content)
    byte = static_cast<unsigned char>((state = state * 1664525u + 1013904223u) >> 24);
  return content;
}

Bytes Package(const Bytes& records) {
  return PackageWithLength(records, static_cast<std::uint32_t>(records.size()));
}

Bytes PackageWithLength(const Bytes& records, std::uint32_t payloadLength) {
  Bytes package = records;
  AppendText(package, "feof");
  AppendLittleEndian(package, payloadLength, 4);
  return package;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

void WriteWholeFile(const std::filesystem::path& path, const Bytes& content) {
  platform::UniqueFile file(platform::OpenFile(ToProgramPath(path), "wb"));
  ASSERT_TRUE(file) << path;
  // An empty vector's data() may be null, which fwrite must not be given.
  if (!content.empty()) {
    ASSERT_EQ(std::fwrite(content.data(), 1, content.size(), file.get()), content.size());
  }
}

std::vector<std::string> TreeUnder(const std::filesystem::path& root) {
  std::vector<std::string> tree;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string relative = entry.path().lexically_relative(root).generic_string();
    tree.push_back(entry.is_directory() ? relative + "/" : relative);
  }
  std::sort(tree.begin(), tree.end());
  return tree;
}

TreeSnapshot SnapshotUnder(const std::filesystem::path& root) {
  TreeSnapshot snapshot;
  for (const std::string& entry : TreeUnder(root)) {
    if (entry.back() == '/') {
      snapshot[entry] = {};
    } else {
      snapshot[entry] = {ReadWholeFile(root / entry),
                         std::filesystem::last_write_time(root / entry).time_since_epoch().count()};
    }
  }
  return snapshot;
}

void ApplierTest::SetUp() {
  std::random_device random;
  base_ = std::filesystem::temp_directory_path() /
          ("quorvane-applier-" + std::to_string(random()) + std::to_string(random()));
  install_ = base_ / "install";
  carrier_ = base_ / "carrier.exe";
  std::filesystem::create_directories(install_);
  g_installDir = ToProgramPath(install_);
}

void ApplierTest::TearDown() {
  g_installDir.clear();
  std::error_code ignored;
  std::filesystem::remove_all(base_, ignored);
}

void ApplierTest::WriteCarrier(const Bytes& packages) const {
  // Not a real program: the reader only looks at the carrier's end.
  Bytes image = Noise(5000, 99);
  image[0] = 'M';
  image[1] = 'Z';
  WriteWholeFile(carrier_, Concat({image, packages}));
}

ApplyRun ApplierTest::ApplyCarrier() const {
  ApplyRun run;
  platform::UniqueFile carrier(platform::OpenFile(ToProgramPath(carrier_), "rb"));
  EXPECT_TRUE(carrier);
  if (!carrier) return run;
  run.located = package::LocatePackage(carrier.get());
  if (run.located != package::LocateResult::kFound) return run;
  applier::Update update(g_installDir);
  const bool staged = applier::WalkRecords(carrier.get(), [&run, &update](std::FILE* package) {
    run.results.push_back(ApplyNextRecord(package, update));
    return run.results.back();
  });
  run.committed = staged && update.Commit();
  return run;
}

}  // namespace applier_test
