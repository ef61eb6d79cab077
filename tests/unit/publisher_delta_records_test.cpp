// The listing tells whole files, deltas with their base and removals apart,
// and the verifier reads every delta's instructions as apply mode would and
// names the first that does not hold, without any game folder.
#include <gtest/gtest.h>

#include <sstream>

#include "applier_test_fixture.h"
#include "delta_test_records.h"
#include "package/layout.h"
#include "publisher/delta_record.h"
#include "publisher/package_listing.h"
#include "publisher/package_verifier.h"

namespace applier_test {
namespace {

using delta_test::InstructionsOf;

class PublisherDeltaRecordsTest : public ApplierTest {
 protected:
  std::wstring PatchOf(const Bytes& records) {
    const std::filesystem::path patch = base_ / "patch.exe";
    WriteWholeFile(patch, Concat({Bytes(64, 'M'), Package(records)}));
    return ToProgramPath(patch);
  }
};

TEST_F(PublisherDeltaRecordsTest, ListsEachRecordsKindAndBase) {
  const Bytes oldContent = MixedContent(40000, 4);
  Bytes newContent = oldContent;
  newContent[1000] ^= 1;
  Bytes delta;
  ASSERT_TRUE(publisher::AppendDeltaRecord(L".\\a.dat", kRecordTimes, oldContent, newContent, delta));
  const std::size_t deltaStream = delta.size() - package::DeltaRecordHeadSize(7);
  const Bytes whole = FileRecordOf(L".\\b.txt", {'h', 'i'});
  const Bytes removal = delta_test::RemovalRecord(L".\\old\\c.dat", {123456, 0x0a0b0c0d});
  std::ostringstream out;
  std::ostringstream err;
  ASSERT_TRUE(publisher::ListPackage(PatchOf(Concat({delta, whole, removal})), out, err)) << err.str();
  char crc[9];
  std::snprintf(crc, sizeof crc, "%08x", delta_test::CrcOf(oldContent));
  const std::string wholeStream = std::to_string(whole.size() - package::RecordHeadSize(7));
  EXPECT_EQ(out.str(),
            ".\\a.dat\t40000\t" + std::to_string(deltaStream) + "\t2015-04-21T09:05:43.6702848Z\tdelta\t40000\t" +
                crc + "\n" + ".\\b.txt\t2\t" + wholeStream + "\t2015-04-21T09:05:43.6702848Z\tfile\n" +
                ".\\old\\c.dat\t-\t-\t-\tremoval\t123456\t0a0b0c0d\n" + "2 files\t40002\t" +
                std::to_string(deltaStream + whole.size() - package::RecordHeadSize(7)) + "\t1 removal\n");
  EXPECT_EQ(err.str(), "");
}

struct VerifyCase {
  const char* name;
  Bytes record;
  bool verifies;
  const char* said;  // found in the line on standard output or error
};

TEST_F(PublisherDeltaRecordsTest, VerifiesEveryDeltasInstructionsWithoutAGameFolder) {
  const package::FileCheck old100 = {100, 0};
  const Bytes valid = delta_test::DeltaRecord(L".\\a.dat", old100, {50, 0}, InstructionsOf({{40, 10, 0}}));
  const Bytes removal = delta_test::RemovalRecord(L".\\gone.dat", old100);
  Bytes damaged = valid;
  damaged.back() ^= 1;  // the insertion stream's Adler-32
  const VerifyCase cases[] = {
      {"instructions within the sizes", valid, true, "2 files, 50 bytes: would apply cleanly"},
      {"a removal", removal, true, "1 file, 1 removal, 0 bytes: would apply cleanly"},
      {"a seek before the old file",
       delta_test::DeltaRecord(L".\\a.dat", old100, {50, 0}, InstructionsOf({{10, 0, -11}, {0, 40, 0}})),
       false, "(.\\a.dat): its delta is invalid: a seek would leave the old file"},
      {"a copy past the old end", delta_test::DeltaRecord(L".\\a.dat", old100, {150, 0}, InstructionsOf({{101, 49, 0}})),
       false, "its delta is invalid: a copy would read past the old file's end"},
      {"instructions short of the new size",
       delta_test::DeltaRecord(L".\\a.dat", old100, {51, 0}, InstructionsOf({{40, 10, 0}})),
       false, "its triples end before the new file's size is reached"},
      {"damaged instructions", damaged, false, "its stream is damaged"},
      {"a removal that leaves the game folder", delta_test::RemovalRecord(L".\\..\\x.dat", old100),
       false, "(.\\..\\x.dat): its path would leave the game's folder"},
      {"a removal cut short", Bytes(removal.begin(), removal.end() - 4),
       false, "(.\\gone.dat) runs on into the package trailer"},
  };
  for (const VerifyCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::ostringstream out;
    std::ostringstream err;
    const bool verified = publisher::VerifyPackage(PatchOf(Concat({FileRecordOf(L".\\z", {}), c.record})), out, err);
    EXPECT_EQ(verified, c.verifies);
    EXPECT_NE((c.verifies ? out : err).str().find(c.said), std::string::npos) << out.str() << err.str();
  }
}

}  // namespace
}  // namespace applier_test
