// The exact bytes of a record and of a whole package, and the size limit
// of the carrier.
#include <gtest/gtest.h>

#include "app/drivers.h"
#include "package/layout.h"
#include "packer/write_file_record.h"
#include "packer_test_fixture.h"

namespace {

// Times far from now, with distinct low and high halves, set on the file
// before it is packed.
constexpr platform::FileTime kLastAccess = 130740581495118894;  // 2015-04-21 02:49:09.5118894
constexpr platform::FileTime kLastWrite = 130740807436702848;   // 2015-04-21 09:05:43.6702848

void AppendLittleEndian(Bytes& bytes, std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i) bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// The record of the empty file "a.txt" directly below the root.
Bytes EmptyFileRecord(const platform::FileTimes& times) {
  Bytes record = {'f', 'i', 'l', 'e', 7, 0};
  for (const char unit : std::string(".\\a.txt")) AppendLittleEndian(record, static_cast<unsigned char>(unit), 2);
  AppendLittleEndian(record, times.creation, 8);
  AppendLittleEndian(record, times.lastAccess, 8);
  AppendLittleEndian(record, times.lastWrite, 8);
  record.insert(record.end(), {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});
  return record;
}

class RecordLayoutTest : public PackerTest {
 protected:
  // Makes the empty file a.txt with the test's times and returns the times
  // the file system then reports (a creation time cannot be set everywhere).
  platform::FileTimes MakeEmptyFileWithTimes() {
    MakeFile(L"a.txt");
    EXPECT_TRUE(platform::WriteFileTimes(SourcePath(L"a.txt"), {kLastAccess, kLastAccess, kLastWrite}));
    platform::FileTimes times;
    EXPECT_TRUE(platform::ReadFileTimes(SourcePath(L"a.txt"), times));
    EXPECT_EQ(times.lastAccess, kLastAccess);
    EXPECT_EQ(times.lastWrite, kLastWrite);
    return times;
  }
};

TEST_F(RecordLayoutTest, EmptyFileGivesTheFiftyTwoByteRecord) {
  const platform::FileTimes times = MakeEmptyFileWithTimes();
  EXPECT_EQ(packer::WriteFileRecord(package_.get(), SourcePath(L"a.txt")), packer::RecordResult::kWritten);
  const Bytes expected = EmptyFileRecord(times);
  ASSERT_EQ(expected.size(), 52u);
  EXPECT_EQ(PackageBytes(), expected);
}

TEST_F(RecordLayoutTest, PackModeAppendsRecordAndTrailerToTheTarget) {
  const platform::FileTimes times = MakeEmptyFileWithTimes();
  const Bytes carrier = {'M', 'Z', 0x90, 0x00, 0x03};
  {
    platform::UniqueFile target(platform::OpenFile(ToProgramPath(base_ / "target.exe"), "wb"));
    ASSERT_TRUE(target);
    std::fwrite(carrier.data(), 1, carrier.size(), target.get());
  }
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(base_);
  RunPackMode(L"target.exe");
  std::filesystem::current_path(previous);

  Bytes expected = carrier;
  const Bytes record = EmptyFileRecord(times);
  expected.insert(expected.end(), record.begin(), record.end());
  expected.insert(expected.end(), {0x66, 0x65, 0x6F, 0x66, 0x34, 0x00, 0x00, 0x00});
  EXPECT_EQ(ReadWholeFile(base_ / "target.exe"), expected);
}

struct LimitCase {
  const char* name;
  std::uint64_t bytesLeft;  // between the package's position and kMaxCarrierSize
  packer::RecordResult result;
};

// The 52-byte record and the 8-byte trailer must leave the carrier below
// 2 GiB. The package stands just short of the limit without the bytes
// before it being written (the file stays sparse).
TEST_F(RecordLayoutTest, RecordThatWouldTakeTheCarrierToTwoGibFails) {
  MakeEmptyFileWithTimes();
  const LimitCase cases[] = {
      {"one byte to spare", 52 + 8 + 1, packer::RecordResult::kWritten},
      {"carrier would be exactly 2 GiB", 52 + 8, packer::RecordResult::kPackageBroken},
      {"no room for the head", 40, packer::RecordResult::kPackageBroken},
  };
  for (const LimitCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path path = base_ / "near-limit.bin";
    platform::UniqueFile package(platform::OpenFile(ToProgramPath(path), "wb"));
    ASSERT_TRUE(package);
    const long start = static_cast<long>(package::kMaxCarrierSize - c.bytesLeft);
    ASSERT_EQ(std::fseek(package.get(), start, SEEK_SET), 0);
    EXPECT_EQ(packer::WriteFileRecord(package.get(), SourcePath(L"a.txt")), c.result);
    const long end = std::ftell(package.get());
    EXPECT_GE(end, start);
    EXPECT_LT(static_cast<std::uint64_t>(end) + package::kTrailerSize, package::kMaxCarrierSize);
    package.reset();
    std::filesystem::remove(path);
  }
}

}  // namespace
