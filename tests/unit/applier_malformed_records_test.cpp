// A malformed record fails the run and the update changes nothing: the file
// it names and the files of the good records before it stay as they were,
// and no partial file is left.
#include <gtest/gtest.h>

#include "applier_test_fixture.h"

namespace applier_test {
namespace {

Bytes Prefix(const Bytes& bytes, std::size_t size) { return Bytes(bytes.begin(), bytes.begin() + size); }

Bytes WithTag(Bytes record, const char* tag) {
  std::copy(tag, tag + 4, record.begin());
  return record;
}

// `record` with one byte of its stream, `fromEnd` bytes before its end,
// changed.
Bytes WithStreamByteChanged(Bytes record, std::size_t fromEnd) {
  record[record.size() - fromEnd] ^= 0x55;
  return record;
}

struct MalformedCase {
  const char* name;
  Bytes payload;              // records, after the good first one
  bool trailerBeforeCarrier;  // the trailer's length reaches before the carrier
};

TEST_F(ApplierTest, MalformedRecordsFailAndChangeNothing) {
  const Bytes oldContent = MixedContent(3000, 7);
  const Bytes newContent = MixedContent(20000, 8);
  const Bytes good = FileRecordOf(L".\\a.txt", {'a'});
  const Bytes victim = FileRecordOf(L".\\victim.txt", newContent);
  const std::size_t headSize = victim.size() - CompressAtLevel6(newContent).size();
  const MalformedCase cases[] = {
      {"tag in upper case", WithTag(victim, "FILE"), false},
      {"unknown tag", WithTag(victim, "fil\x01"), false},
      {"unit count 0", FileRecordOf(L"", newContent), false},
      {"package ends after the tag", Prefix(victim, 4), false},
      {"package ends inside the path", Prefix(victim, 6 + 2 * 5), false},
      {"package ends inside the times", Prefix(victim, headSize - 12), false},
      {"damaged stream", WithStreamByteChanged(victim, 5000), false},
      {"stream cut short", Prefix(victim, victim.size() - 3000), false},
      {"wrong Adler-32", WithStreamByteChanged(victim, 1), false},
      {"payload length before the carrier", victim, true},
  };
  for (const MalformedCase& c : cases) {
    SCOPED_TRACE(c.name);
    WriteWholeFile(Installed("victim.txt"), oldContent);
    const Bytes records = Concat({good, c.payload});
    WriteCarrier(c.trailerBeforeCarrier ? PackageWithLength(records, 0x7FFFFFF0u) : Package(records));

    const ApplyRun run = ApplyCarrier();

    if (c.trailerBeforeCarrier) {
      // The driver shows the failure message before any record is read.
      EXPECT_EQ(run.located, package::LocateResult::kDamaged);
      EXPECT_TRUE(run.results.empty());
      EXPECT_EQ(TreeUnder(install_), (std::vector<std::string>{"victim.txt"}));
    } else {
      EXPECT_EQ(run.results, (std::vector<int>{1, 0}));
      EXPECT_EQ(TreeUnder(install_), (std::vector<std::string>{"victim.txt"}));
    }
    EXPECT_FALSE(run.committed);
    EXPECT_EQ(ReadWholeFile(Installed("victim.txt")), oldContent);
  }
}

}  // namespace
}  // namespace applier_test
