// Streams that inflate to the source's bytes and equal zlib's own output,
// for sizes around the 1024-byte chunk.
#include <gtest/gtest.h>
#include <zlib.h>

#include "packer/write_file_record.h"
#include "packer_test_fixture.h"

namespace {

Bytes Uncompress(const Bytes& stream, std::size_t size) {
  Bytes content(size + 1);  // one more, so that extra output would show
  uLongf length = static_cast<uLongf>(content.size());
  EXPECT_EQ(uncompress(content.data(), &length, stream.data(), static_cast<uLong>(stream.size())), Z_OK);
  content.resize(length);
  return content;
}

using RoundTripTest = PackerTest;

// All files go into one package, so each stream must also end exactly
// where the next record begins.
TEST_F(RoundTripTest, StreamsInflateToTheSourceAndEqualZlibAtLevel6) {
  const std::size_t sizes[] = {0, 1, 1023, 1024, 1025, 2048, 4096, 300 * 1024};
  std::vector<Bytes> contents;
  for (const std::size_t size : sizes) {
    const std::wstring name = L"f" + std::to_wstring(size);
    contents.push_back(MixedContent(size));
    MakeFile(name, contents.back());
    ASSERT_EQ(packer::WriteFileRecord(package_.get(), SourcePath(name)), packer::RecordResult::kWritten);
  }
  const std::vector<PackedRecord> records = ParseRecords(PackageBytes());
  ASSERT_EQ(records.size(), std::size(sizes));
  for (std::size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "size " << sizes[i]);
    EXPECT_EQ(records[i].path, L".\\f" + std::to_wstring(sizes[i]));
    EXPECT_EQ(Uncompress(records[i].stream, sizes[i]), contents[i]);
    EXPECT_EQ(records[i].stream, CompressAtLevel6(contents[i]));
  }
  EXPECT_EQ(records[0].stream, (Bytes{0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}));
}

}  // namespace
