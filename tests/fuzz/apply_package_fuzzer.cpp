// The fuzz target of apply mode. Each input is a whole carrier: a program
// image with a package at its end, or any other bytes. It is written to a
// file and applied, as the apply driver does it, into a fresh install
// directory that already holds a few game files. Properties checked:
// - a record that fails changes no file: no file appears, disappears or
//   changes content (missing directories it created may stay);
// - a record that is applied changes exactly its destination, which then
//   holds the record's stream inflated by zlib on its own, and leaves the
//   carrier on the byte after that stream;
// - no file or directory is removed, and only files and directories appear;
// - when the walk ends, nothing but the install directory and the carrier
//   stands beside each other in the scratch directory, and no partial file
//   is left that no applied record named.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "app/globals.h"
#include "applier/apply_records.h"
#include "package/trailer.h"
#include "platform/platform.h"
#include "platform/unique_file.h"
#include "property_check.h"
#include "record_peek.h"
#include "tree_snapshot.h"

namespace fs = std::filesystem;

namespace {

constexpr char kCarrierName[] = "carrier.exe";
constexpr char kInstallName[] = "install";
constexpr char kWorkName[] = "work";

// Game files that the install directory holds before each input; the seed
// corpus names some of them, so that replacing a file is exercised.
constexpr struct {
  const char* path;
  const char* content;
} kGameFiles[] = {
    {"zanthe.exe", "MZ engine"},
    {"a.txt", "a.txt as installed"},
    {"victim.txt", "victim.txt as installed"},
    {"data/data7.dat", "data7.dat as installed"},
    {"data/settings.ini", "[display]\nwidth=640\n"},
};

// <scratch>/work/{carrier.exe,install}: the scratch directory must hold
// only work, and work only the carrier and the install directory, so that
// anything written beside the install directory, one or two levels up,
// shows.
fs::path g_scratch;

void RemoveScratch() {
  std::error_code ignored;
  fs::remove_all(g_scratch, ignored);
}

// Scratch space in $QUORVANE_FUZZ_SCRATCH, else on tmpfs when there is one:
// each input writes a few files. A run that aborts on a finding leaves its
// scratch directory behind, for a look.
fs::path MakeScratch() {
  const char* tmpfs = "/dev/shm";
  const char* chosen = std::getenv("QUORVANE_FUZZ_SCRATCH");
  const fs::path base = chosen != nullptr && *chosen != '\0' ? fs::path(chosen)
                        : access(tmpfs, W_OK) == 0         ? fs::path(tmpfs)
                                                           : fs::temp_directory_path();
  std::string pattern = (base / "quorvane-fuzz-XXXXXX").string();
  fuzz::Require(mkdtemp(pattern.data()) != nullptr, "cannot create the scratch directory");
  return pattern;
}

// A program path: UTF-16 units with "\" separators.
std::wstring ProgramPath(const fs::path& path) {
  std::wstring units;
  for (const char16_t unit : path.u16string()) units += unit == u'/' ? L'\\' : static_cast<wchar_t>(unit);
  return units;
}

void WriteFile(const fs::path& path, const void* bytes, std::size_t size) {
  std::ofstream file(path, std::ios::binary);
  file.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(size));
  fuzz::Require(file.good(), "cannot write a file of the scratch directory");
}

bool SameFile(const fs::path& a, const std::wstring& programPath) {
  struct stat info;
  const std::optional<platform::FileIdentity> identity = platform::IdentityOf(programPath);
  return stat(a.c_str(), &info) == 0 && identity &&
         *identity == platform::FileIdentity{static_cast<std::uint64_t>(info.st_dev),
                                             static_cast<std::uint64_t>(info.st_ino)};
}

std::string ReadWhole(const std::wstring& programPath) {
  platform::UniqueFile file(platform::OpenFile(programPath, "rb"));
  std::string content;
  if (!file) return content;
  char buffer[65536];
  std::size_t read = 0;
  while ((read = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) content.append(buffer, read);
  return content;
}

std::set<std::string> EntriesOf(const fs::path& directory) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) names.insert(entry.path().filename().string());
  return names;
}

// One walk over one carrier, checking every record's outcome.
class CheckedApply {
 public:
  CheckedApply(const std::uint8_t* carrier, std::size_t size, const fs::path& install)
      : carrier_(carrier), size_(size), install_(install), tree_(fuzz::SnapshotTree(install)) {}

  // The step of the walk: ApplyNextRecord with a look before and after.
  int operator()(std::FILE* package) {
    const fuzz::RecordPeek peek = fuzz::PeekRecord(package, carrier_, size_, g_installDir);
    const int result = ApplyNextRecord(package);
    fuzz::TreeSnapshot after = fuzz::SnapshotTree(install_);
    fuzz::Require(after.others.empty(), ("not a file or a directory: " + fuzz::ListPaths(after.others)).c_str());
    const std::vector<std::string> removed = fuzz::RemovedEntries(tree_, after);
    fuzz::Require(removed.empty(), ("a record removed " + fuzz::ListPaths(removed)).c_str());
    const std::vector<std::string> changed = fuzz::AddedOrChangedFiles(tree_, after);
    if (result == 1) {
      CheckApplied(package, peek, changed);
    } else {
      fuzz::Require(changed.empty(), ("a record that was not applied changed " + fuzz::ListPaths(changed)).c_str());
    }
    tree_ = std::move(after);
    return result;
  }

  // Files that applied records wrote.
  const std::set<std::string>& applied() const { return applied_; }
  const fuzz::TreeSnapshot& tree() const { return tree_; }

 private:
  void CheckApplied(std::FILE* package, const fuzz::RecordPeek& peek, const std::vector<std::string>& changed) {
    fuzz::Require(peek.isFileRecord && !peek.destination.empty(), "applied a record without a file tag and path");
    fuzz::Require(peek.content.has_value(), "applied a record whose zlib stream does not inflate in full");
    fuzz::Require(std::ftell(package) == peek.streamEnd, "the carrier is not left right after the applied stream");
    fuzz::Require(changed.size() <= 1, ("one record changed " + fuzz::ListPaths(changed)).c_str());
    fuzz::Require(ReadWhole(peek.destination) == *peek.content,
                  "the applied file does not hold the inflated stream");
    if (!changed.empty()) {
      fuzz::Require(SameFile(install_ / changed.front(), peek.destination),
                    ("the record changed " + changed.front() + ", which is not its destination").c_str());
      applied_.insert(changed.front());
    }
  }

  const std::uint8_t* carrier_;
  std::size_t size_;
  fs::path install_;
  fuzz::TreeSnapshot tree_;  // the install tree before the next record
  std::set<std::string> applied_;
};

void CheckNothingBeside(const fs::path& work) {
  fuzz::Require(EntriesOf(g_scratch) == std::set<std::string>{kWorkName},
                "something was written beside the carrier's directory");
  fuzz::Require(EntriesOf(work) == std::set<std::string>{kCarrierName, kInstallName},
                "something was written beside the install directory");
}

void CheckNoPartialFiles(const CheckedApply& walk) {
  for (const auto& [path, content] : walk.tree().files) {
    // A package may name a file so; then it was applied.
    if (path.find(".quorvane-partial") != std::string::npos && walk.applied().count(path) == 0) {
      fuzz::Violated("partial file left: " + path);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_scratch = MakeScratch();
  std::atexit(RemoveScratch);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path work = g_scratch / kWorkName;
  const fs::path install = work / kInstallName;
  const fs::path carrierPath = work / kCarrierName;
  fs::create_directories(install / "data");
  for (const auto& file : kGameFiles) {
    WriteFile(install / file.path, file.content, std::char_traits<char>::length(file.content));
  }
  WriteFile(carrierPath, data, size);
  g_installDir = ProgramPath(install);

  {
    platform::UniqueFile carrier(platform::OpenFile(ProgramPath(carrierPath), "rb"));
    fuzz::Require(carrier != nullptr, "cannot open the carrier");
    CheckedApply walk(data, size, install);
    if (package::LocatePackage(carrier.get()) == package::LocateResult::kFound) {
      applier::WalkRecords(carrier.get(), walk);
    }
    CheckNothingBeside(work);
    CheckNoPartialFiles(walk);
  }

  g_installDir.clear();
  fs::remove_all(work);
  return 0;
}
