// --check tells whether a patch of deltas and removals would apply to a game
// folder, names the first file that is not the release the patch was made
// from and how, and changes nothing in the folder either way.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "applier_test_fixture.h"
#include "delta_test_records.h"
#include "publisher/delta_record.h"
#include "publisher/patch_check.h"

namespace applier_test {
namespace {

namespace fs = std::filesystem;

struct CheckCase {
  const char* name;
  std::function<void(const fs::path& game)> change;  // from the release the patch was made from
  const char* result;  // found in the output line on success, in the error line on failure
  bool applies;
};

class PublisherPatchCheckTest : public ApplierTest {
 protected:
  void SetUp() override {
    ApplierTest::SetUp();
    oldTable_ = MixedContent(20000, 5);
    newTable_ = oldTable_;
    newTable_[3000] ^= 0x10;
    fs::create_directories(Installed("data"));
    WriteWholeFile(Installed("data/table.dat"), oldTable_);
    WriteWholeFile(Installed("data/dropped.dat"), {'o', 'l', 'd'});
    Bytes records;
    EXPECT_TRUE(publisher::AppendDeltaRecord(L".\\data\\table.dat", kRecordTimes, oldTable_, newTable_, records));
    EXPECT_TRUE(publisher::EncodeRemovalRecord(ToProgramPath(Installed("data/dropped.dat")), L".\\data\\dropped.dat",
                                               records));
    records = Concat({records, FileRecordOf(L".\\new.txt", {'n'})});
    WriteCarrier(Package(records));
  }

  Bytes oldTable_;
  Bytes newTable_;
};

TEST_F(PublisherPatchCheckTest, TellsWhetherThePatchAppliesAndWhyNot) {
  const CheckCase cases[] = {
      {"the release it was made from", [](const fs::path&) {},
       "would apply to", true},
      {"a removed file already gone", [](const fs::path& game) { fs::remove(game / "data/dropped.dat"); },
       "1 removal (1 already gone)", true},
      {"a changed base", [this](const fs::path& game) {
         Bytes changed = oldTable_;
         changed[10] ^= 1;
         WriteWholeFile(game / "data/table.dat", changed);
       }, ".\\data\\table.dat: not the file this patch was made from: its CRC-32 is ", false},
      {"a base of another size", [](const fs::path& game) { WriteWholeFile(game / "data/table.dat", {'x'}); },
       ".\\data\\table.dat: not the file this patch was made from: 1 byte, not 20000 bytes", false},
      {"a missing base", [](const fs::path& game) { fs::remove(game / "data/table.dat"); },
       ".\\data\\table.dat: missing", false},
      {"a folder where the base should be", [](const fs::path& game) {
         fs::remove(game / "data/table.dat");
         fs::create_directory(game / "data/table.dat");
       }, ".\\data\\table.dat: a folder or a link", false},
      {"a changed file to remove", [](const fs::path& game) {
         WriteWholeFile(game / "data/dropped.dat", {'n', 'e', 'w'});
       }, ".\\data\\dropped.dat: not the file this patch was made from: its CRC-32 is ", false},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path game = base_ / "game";
    fs::remove_all(game);
    fs::copy(install_, game, fs::copy_options::recursive);
    c.change(game);
    const TreeSnapshot before = SnapshotUnder(game);
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(publisher::CheckPatch(ToProgramPath(carrier_), ToProgramPath(game), out, err), c.applies);
    EXPECT_NE((c.applies ? out : err).str().find(c.result), std::string::npos) << out.str() << err.str();
    EXPECT_EQ(SnapshotUnder(game), before);
  }
}

TEST_F(PublisherPatchCheckTest, AGameFolderThatIsNotThereFails) {
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_FALSE(publisher::CheckPatch(ToProgramPath(carrier_), ToProgramPath(base_ / "nowhere"), out, err));
  EXPECT_NE(err.str().find("not a folder"), std::string::npos);
}

}  // namespace
}  // namespace applier_test
