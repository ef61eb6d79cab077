// Deltas and removals inside the update's transaction: a game folder that
// holds the release a patch was made from becomes the new one, removed
// files and the folders they leave empty included; one that does not is
// left exactly as it was, with the first file that differs named; and an
// update undone after its removals brings the removed files back.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "app/globals.h"
#include "applier/apply_records.h"
#include "applier_test_fixture.h"
#include "delta_test_records.h"
#include "package/trailer.h"
#include "platform/platform.h"
#include "platform/unique_file.h"

namespace applier_test {
namespace {

namespace fs = std::filesystem;
using delta_test::CrcOf;
using delta_test::InstructionsOf;

// "table" old: bytes 0..99; new: 40 of them, each plus 1, then 10 'i'.
const Bytes kOldTable = [] {
  Bytes bytes;
  for (unsigned i = 0; i < 100; ++i) bytes.push_back(static_cast<unsigned char>(i));
  return bytes;
}();
const Bytes kNewTable = [] {
  Bytes bytes;
  for (unsigned i = 0; i < 40; ++i) bytes.push_back(static_cast<unsigned char>(i + 1));
  bytes.insert(bytes.end(), 10, 'i');
  return bytes;
}();
const Bytes kDropped = {'o', 'l', 'd'};

// A game folder that differs from the release: how, and what the update
// must say.
struct DifferentFolderCase {
  const char* name;
  std::function<void(const std::filesystem::path& install)> change;
  applier::FaultKind fault;
  const wchar_t* path;
};

class ApplierDeltaRecordsTest : public ApplierTest {
 protected:
  // Applies the patch of Records() to the release changed by each case in
  // turn: the update fails, names the file, and changes nothing.
  template <std::size_t N>
  void ExpectEachLeftAsItWas(const DifferentFolderCase (&cases)[N]);

  void SetUp() override {
    ApplierTest::SetUp();
    fs::create_directories(Installed("data/gone"));
    WriteWholeFile(Installed("data/table.dat"), kOldTable);
    WriteWholeFile(Installed("data/gone/dropped.dat"), kDropped);
    WriteWholeFile(Installed("kept.txt"), {'k'});
    // Times in whole 100 ns steps, which the update keeps exactly when it
    // gives a file back its times, set as the program sets them: a time
    // set through the Windows build's C++ library was read back under Wine
    // a second off from one reading to the next.
    const platform::FileTime time = 130740807436702848;  // 2015-04-21 09:05:43.6702848 UTC
    for (const char* name : {"data/table.dat", "data/gone/dropped.dat", "kept.txt"}) {
      ASSERT_TRUE(platform::WriteFileTimes(ToProgramPath(Installed(name)), {time, time, time}));
    }
  }

  // The patch from the release above to the next: a delta, two removals
  // (one of a file that the release never had), and a new file.
  Bytes Records() const {
    return Concat({delta_test::DeltaRecord(L".\\data\\table.dat", {100, CrcOf(kOldTable)},
                                           {50, CrcOf(kNewTable)}, InstructionsOf({{40, 10, 0}})),
                   delta_test::RemovalRecord(L".\\data\\gone\\dropped.dat", {3, CrcOf(kDropped)}),
                   delta_test::RemovalRecord(L".\\never.txt", {1, 0}),
                   FileRecordOf(L".\\data\\new.txt", {'n'})});
  }

  bool Apply(applier::UpdateFault& fault) const {
    platform::UniqueFile carrier(platform::OpenFile(ToProgramPath(carrier_), "rb"));
    EXPECT_EQ(package::LocatePackage(carrier.get()), package::LocateResult::kFound);
    return applier::ApplyRecords(carrier.get(), g_installDir, fault);
  }
};

TEST_F(ApplierDeltaRecordsTest, TurnsTheReleaseIntoTheNextOne) {
  WriteCarrier(Package(Records()));
  applier::UpdateFault fault;
  ASSERT_TRUE(Apply(fault)) << std::string(fault.path.begin(), fault.path.end());
  EXPECT_EQ(ReadWholeFile(Installed("data/table.dat")), kNewTable);
  EXPECT_EQ(TreeUnder(install_),
            (std::vector<std::string>{"data/", "data/new.txt", "data/table.dat", "kept.txt"}));
}

TEST_F(ApplierDeltaRecordsTest, AFolderThatIsNotTheReleaseIsLeftAsItWas) {
  const DifferentFolderCase cases[] = {
      {"a changed old file", [](const fs::path& install) {
         Bytes changed = kOldTable;
         changed[99] = 0;
         WriteWholeFile(install / "data/table.dat", changed);
       }, applier::FaultKind::kBaseContentDiffers, L".\\data\\table.dat"},
      {"an old file of another size", [](const fs::path& install) {
         WriteWholeFile(install / "data/table.dat", Bytes(kOldTable.begin(), kOldTable.end() - 1));
       }, applier::FaultKind::kBaseSizeDiffers, L".\\data\\table.dat"},
      {"a missing old file", [](const fs::path& install) { fs::remove(install / "data/table.dat"); },
       applier::FaultKind::kBaseMissing, L".\\data\\table.dat"},
      {"a changed file to remove", [](const fs::path& install) {
         WriteWholeFile(install / "data/gone/dropped.dat", {'n', 'e', 'w'});
       }, applier::FaultKind::kBaseContentDiffers, L".\\data\\gone\\dropped.dat"},
  };
  ExpectEachLeftAsItWas(cases);
}

// The link's target, a file outside the folder, has the very content the
// record names: only a look at the name itself finds that it is no file.
TEST_F(ApplierDeltaRecordsTest, ALinkWhereAnOldFileShouldBeIsNeverFollowed) {
  std::error_code failed;
  fs::create_symlink(base_ / "probe", base_ / "probe-link", failed);
  if (failed) GTEST_SKIP() << "cannot make a symbolic link here: " << failed.message();
  const auto linkedOut = [this](const char* name) {
    return [this, name](const fs::path& install) {
      fs::rename(install / name, base_ / "outside.dat");
      fs::create_symlink(base_ / "outside.dat", install / name);
    };
  };
  const DifferentFolderCase cases[] = {
      {"a link in place of the old file", linkedOut("data/table.dat"), applier::FaultKind::kBaseNotAFile,
       L".\\data\\table.dat"},
      {"a link in place of a file to remove", linkedOut("data/gone/dropped.dat"),
       applier::FaultKind::kBaseNotAFile, L".\\data\\gone\\dropped.dat"},
  };
  ExpectEachLeftAsItWas(cases);
}

template <std::size_t N>
void ApplierDeltaRecordsTest::ExpectEachLeftAsItWas(const DifferentFolderCase (&cases)[N]) {
  WriteCarrier(Package(Records()));
  const fs::path release = base_ / "release";
  fs::copy(install_, release, fs::copy_options::recursive);
  for (const DifferentFolderCase& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(install_);
    fs::copy(release, install_, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    c.change(install_);
    const TreeSnapshot before = SnapshotUnder(install_);
    applier::UpdateFault fault;
    EXPECT_FALSE(Apply(fault));
    EXPECT_EQ(SnapshotUnder(install_), before);
    EXPECT_EQ(fault.kind, c.fault);
    EXPECT_EQ(fault.path, c.path);
    fs::remove(base_ / "outside.dat");
  }
}

TEST_F(ApplierDeltaRecordsTest, AnUndoneCommitBringsRemovedFilesBack) {
  // The removal comes first and the new file's move fails after it.
  WriteCarrier(Package(Concat({delta_test::RemovalRecord(L".\\data\\gone\\dropped.dat", {3, CrcOf(kDropped)}),
                               FileRecordOf(L".\\data\\new.txt", {'n'})})));
  const TreeSnapshot before = SnapshotUnder(install_);
  platform::FailNthMoveForTesting(1);
  applier::UpdateFault fault;
  EXPECT_FALSE(Apply(fault));
  platform::FailNthMoveForTesting(0);
  EXPECT_EQ(fault.kind, applier::FaultKind::kCannotCommit);
  EXPECT_EQ(SnapshotUnder(install_), before);
}

}  // namespace
}  // namespace applier_test
