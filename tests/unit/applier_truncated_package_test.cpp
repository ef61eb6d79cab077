// A package cut short at every byte, in the two ways a cut can reach the
// applier: a patch whose download broke off (the trailer is lost with the
// tail), and a package whose trailer counts only the bytes before the cut.
// No cut may report the records it lost as applied, leave a partial file or
// change anything unless every record arrived whole.
#include <gtest/gtest.h>

#include <map>

#include "applier_test_fixture.h"

namespace applier_test {
namespace {

struct PackedFile {
  std::string name;  // below the install directory
  Bytes content;
};

class TruncatedPackageTest : public ApplierTest {
 protected:
  void SetUp() override {
    ApplierTest::SetUp();
    // An existing file, an empty one and a new one whose stream spans two
    // 1024-byte chunks.
    files_ = {{"old.txt", {'n', 'e', 'w'}}, {"empty.bin", {}}, {"big.bin", Noise(1100, 5)}};
    before_ = {{"old.txt", {'o', 'l', 'd'}}, {"empty.bin", {'w', 'a', 's'}}};
    for (const PackedFile& file : files_) {
      const Bytes record = FileRecordOf(L".\\" + std::wstring(file.name.begin(), file.name.end()), file.content);
      payload_.insert(payload_.end(), record.begin(), record.end());
      recordEnds_.push_back(payload_.size());
    }
  }

  // The install directory as it was before any record.
  void ResetInstallDirectory() const {
    std::filesystem::remove_all(install_);
    std::filesystem::create_directory(install_);
    for (const auto& [name, content] : before_) WriteWholeFile(Installed(name), content);
  }

  // Checks that the first `applied` records landed and that every other
  // file is as it was, with nothing else in the install directory.
  void ExpectApplied(std::size_t applied) const {
    std::map<std::string, Bytes> expected = before_;
    for (std::size_t i = 0; i < applied; ++i) expected[files_[i].name] = files_[i].content;
    std::vector<std::string> tree;
    for (const auto& [name, content] : expected) {
      tree.push_back(name);
      EXPECT_EQ(ReadWholeFile(Installed(name)), content) << name;
    }
    EXPECT_EQ(TreeUnder(install_), tree);
  }

  std::vector<PackedFile> files_;
  std::map<std::string, Bytes> before_;
  Bytes payload_;
  std::vector<std::size_t> recordEnds_;  // offset of each record's end in the payload
};

// A carrier whose tail is missing has no trailer: nothing is applied.
TEST_F(TruncatedPackageTest, CarrierCutAnywhereInThePackageAppliesNothing) {
  const Bytes package = Package(payload_);
  for (std::size_t cut = 0; cut < package.size(); ++cut) {
    SCOPED_TRACE(testing::Message() << "carrier cut " << cut << " bytes into the package");
    ResetInstallDirectory();
    WriteCarrier(Bytes(package.begin(), package.begin() + cut));
    EXPECT_EQ(ApplyCarrier().results, std::vector<int>{});
    ExpectApplied(0);
  }
}

// The record that the cut runs through fails and the update changes
// nothing, not even the records wholly before the cut. A cut on a record
// boundary leaves a whole, smaller package, which nothing in its bytes tells
// apart from one packed that way: that one applies.
TEST_F(TruncatedPackageTest, PayloadCutAnywhereFailsTheRecordItRunsThrough) {
  for (std::size_t cut = 0; cut < payload_.size(); ++cut) {
    SCOPED_TRACE(testing::Message() << "payload cut at " << cut);
    ResetInstallDirectory();
    WriteCarrier(Package(Bytes(payload_.begin(), payload_.begin() + cut)));
    std::size_t whole = 0;
    while (recordEnds_[whole] <= cut) ++whole;
    const std::size_t wholeEnd = whole == 0 ? 0 : recordEnds_[whole - 1];

    std::vector<int> expected(whole, 1);
    expected.push_back(cut == wholeEnd ? -1 : 0);
    const ApplyRun run = ApplyCarrier();
    EXPECT_EQ(run.results, expected);
    EXPECT_EQ(run.committed, cut == wholeEnd);
    ExpectApplied(cut == wholeEnd ? whole : 0);
  }
}

}  // namespace
}  // namespace applier_test
