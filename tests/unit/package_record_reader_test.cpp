// The package reader tells every kind of record and every fault of a stream
// apart, and leaves the stream on the next tag after a complete record.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>

#include "applier_test_fixture.h"
#include "package/record_reader.h"
#include "platform/unique_file.h"

namespace applier_test {
namespace {

Bytes Prefix(const Bytes& bytes, std::size_t size) { return Bytes(bytes.begin(), bytes.begin() + size); }

// Collects what the reader inflates.
class CollectingSink final : public package::InflateSink {
 public:
  bool Write(const unsigned char* bytes, std::size_t count) override {
    content.insert(content.end(), bytes, bytes + count);
    return true;
  }
  Bytes content;
};

class RefusingSink final : public package::InflateSink {
 public:
  bool Write(const unsigned char*, std::size_t) override { return false; }
};

// An in-memory stream holding `bytes`.
platform::UniqueFile StreamOf(const Bytes& bytes) {
  platform::UniqueFile stream(std::tmpfile());
  std::fwrite(bytes.data(), 1, bytes.size(), stream.get());
  std::rewind(stream.get());
  return stream;
}

struct ReaderCase {
  const char* name;
  Bytes bytes;
  package::RecordKind kind;
  std::optional<package::InflateResult> stream;  // for kFile
};

TEST(PackageRecordReaderTest, TellsRecordsAndStreamFaultsApart) {
  const Bytes content = MixedContent(5000, 3);
  const Bytes record = FileRecordOf(L".\\d\\x.txt", content);
  const std::size_t headSize = record.size() - CompressAtLevel6(content).size();
  Bytes damaged = record;
  damaged[headSize + 100] ^= 0x55;
  Bytes wrongCheck = record;
  wrongCheck.back() ^= 1;
  using package::InflateResult;
  using package::RecordKind;
  const ReaderCase cases[] = {
      {"a whole record", record, RecordKind::kFile, InflateResult::kComplete},
      {"the trailer", {'f', 'e', 'o', 'f', 0, 0, 0, 0}, RecordKind::kEnd, std::nullopt},
      {"a tag in upper case", {'F', 'I', 'L', 'E'}, RecordKind::kUnknownTag, std::nullopt},
      {"a tag cut short", {'f', 'i'}, RecordKind::kUnknownTag, std::nullopt},
      {"a unit count of 0", FileRecordOf(L"", content), RecordKind::kEmptyPath, std::nullopt},
      {"only zero units", FileRecordOf(std::wstring(3, L'\0'), content), RecordKind::kEmptyPath, std::nullopt},
      {"ends inside the path", Prefix(record, 8), RecordKind::kCutShort, std::nullopt},
      {"ends inside the times", Prefix(record, headSize - 4), RecordKind::kCutShort, std::nullopt},
      {"damaged data", damaged, RecordKind::kFile, InflateResult::kDamaged},
      {"wrong Adler-32", wrongCheck, RecordKind::kFile, InflateResult::kDamaged},
      {"stream cut short", Prefix(record, record.size() - 10), RecordKind::kFile, InflateResult::kCutShort},
  };
  for (const ReaderCase& c : cases) {
    SCOPED_TRACE(c.name);
    platform::UniqueFile stream = StreamOf(c.bytes);
    package::RecordHead head;
    ASSERT_EQ(package::ReadRecordHead(stream.get(), head), c.kind);
    if (c.kind != RecordKind::kFile) continue;
    EXPECT_EQ(head.path, L".\\d\\x.txt");
    EXPECT_EQ(head.times.creation, kRecordTimes.creation);
    EXPECT_EQ(head.times.lastAccess, kRecordTimes.lastAccess);
    EXPECT_EQ(head.times.lastWrite, kRecordTimes.lastWrite);
    CollectingSink sink;
    EXPECT_EQ(package::InflateRecordStream(stream.get(), sink), *c.stream);
    if (*c.stream == InflateResult::kComplete) {
      EXPECT_EQ(sink.content, content);
    }
  }
}

TEST(PackageRecordReaderTest, CompleteStreamLeavesTheNextTagAndASinkCanStopIt) {
  const Bytes content = MixedContent(3000, 4);
  const Bytes twoRecords = Concat({FileRecordOf(L".\\a", content), FileRecordOf(L".\\b", content)});
  platform::UniqueFile stream = StreamOf(Package(twoRecords));
  package::RecordHead head;
  CollectingSink sink;
  ASSERT_EQ(package::ReadRecordHead(stream.get(), head), package::RecordKind::kFile);
  ASSERT_EQ(package::InflateRecordStream(stream.get(), sink), package::InflateResult::kComplete);
  ASSERT_EQ(package::ReadRecordHead(stream.get(), head), package::RecordKind::kFile);
  EXPECT_EQ(head.path, L".\\b");
  RefusingSink refusing;
  EXPECT_EQ(package::InflateRecordStream(stream.get(), refusing), package::InflateResult::kSinkFailed);
}

}  // namespace
}  // namespace applier_test
