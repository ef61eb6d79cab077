// The inflate loop at the edges of its 1024-byte chunks: streams that end
// exactly on a chunk, read-ahead into the next record or the trailer, and
// contents of every awkward length arrive whole, with the stream left on
// the next tag.
#include <gtest/gtest.h>

#include "applier_test_fixture.h"

namespace applier_test {
namespace {

// Incompressible content whose zlib stream is exactly `streamSize` bytes.
Bytes ContentWithStreamSize(std::size_t streamSize) {
  for (std::size_t size = streamSize; size > streamSize - 64; --size) {
    const Bytes content = Noise(size, static_cast<std::uint32_t>(size));
    if (CompressAtLevel6(content).size() == streamSize) return content;
  }
  ADD_FAILURE() << "no content compresses to " << streamSize << " bytes";
  return Bytes();
}

std::wstring NameFor(std::size_t index) { return L".\\f" + std::to_wstring(index) + L".bin"; }

TEST_F(ApplierTest, ContentsOfEveryChunkEdgeArriveWhole) {
  const std::vector<Bytes> contents = {
      {},
      {'x'},
      MixedContent(1023),
      MixedContent(1024),
      MixedContent(1025),
      Bytes(1024, 'z'),  // deflates to a few bytes: the output fills before the input is used
      Bytes(4096, 0),
      Noise(1024),
      Noise(3 * 1024),
      MixedContent(64 * 1024 + 1),
  };
  Bytes records;
  for (std::size_t i = 0; i < contents.size(); ++i)
    records = Concat({records, FileRecordOf(NameFor(i), contents[i])});
  WriteCarrier(Package(records));

  std::vector<int> expected(contents.size(), 1);
  expected.push_back(-1);
  EXPECT_EQ(ApplyCarrier().results, expected);
  for (std::size_t i = 0; i < contents.size(); ++i) {
    SCOPED_TRACE(i);
    const std::filesystem::path file = install_ / ("f" + std::to_string(i) + ".bin");
    ASSERT_TRUE(std::filesystem::is_regular_file(file));
    EXPECT_EQ(ReadWholeFile(file), contents[i]);
  }
}

// With no read-ahead left the loop must not seek; with a whole chunk of
// read-ahead it must seek back by all of it.
TEST_F(ApplierTest, StreamsEndingOnAChunkEdgeLeaveTheNextTagInPlace) {
  for (const std::size_t streamSize : {std::size_t{1024}, std::size_t{2048}}) {
    SCOPED_TRACE(streamSize);
    const Bytes onEdge = ContentWithStreamSize(streamSize);
    ASSERT_EQ(CompressAtLevel6(onEdge).size(), streamSize);
    const Bytes other = MixedContent(5000);
    // The edge stream first, then in the middle, then last before the trailer.
    WriteCarrier(Package(Concat({FileRecordOf(L".\\edge1", onEdge), FileRecordOf(L".\\other1", other),
                                 FileRecordOf(L".\\edge2", onEdge), FileRecordOf(L".\\other2", other),
                                 FileRecordOf(L".\\edge3", onEdge)})));

    EXPECT_EQ(ApplyCarrier().results, (std::vector<int>{1, 1, 1, 1, 1, -1}));
    for (const char* name : {"edge1", "edge2", "edge3"})
      EXPECT_EQ(ReadWholeFile(Installed(name)), onEdge) << name;
    for (const char* name : {"other1", "other2"}) EXPECT_EQ(ReadWholeFile(Installed(name)), other) << name;
    for (const char* name : {"edge1", "edge2", "edge3", "other1", "other2"})
      std::filesystem::remove(Installed(name));
  }
}

// The last chunk read runs into the end of the carrier, trailer included:
// the seek back must clear end-of-file so that the loop goes on to "feof".
TEST_F(ApplierTest, ShortLastStreamReadsIntoTheTrailerAndTheLoopStillMeetsIt) {
  WriteCarrier(Package(FileRecordOf(L".\\short.txt", {'h', 'i'})));
  EXPECT_EQ(ApplyCarrier().results, (std::vector<int>{1, -1}));
  EXPECT_EQ(ReadWholeFile(Installed("short.txt")), (Bytes{'h', 'i'}));
}

TEST_F(ApplierTest, EmptyPackageAppliesNothing) {
  WriteCarrier(Package({}));
  EXPECT_EQ(ApplyCarrier().results, (std::vector<int>{-1}));
  EXPECT_TRUE(TreeUnder(install_).empty());
}

}  // namespace
}  // namespace applier_test
