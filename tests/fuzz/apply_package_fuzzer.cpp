// The fuzz target of apply mode. Each input is a whole carrier: a program
// image with a package at its end, or any other bytes. It is written to a
// file and applied, as the apply driver does it, into a fresh install
// directory that already holds a few game files. Properties checked:
// - staging a record replaces, removes and changes no file that exists; it
//   adds only directories and partial files;
// - a record that is staged leaves the carrier on the byte after its zlib
//   stream, which inflates in full;
// - the package reader accepts a delta's instructions exactly when a plain
//   reading of the layout over whole buffers does, and hands on no piece
//   that reaches outside the old file or past the new size;
// - an update that fails, in either phase, leaves the install directory
//   exactly as it was: the same files with the same content, the same
//   directories, nothing more;
// - a delta is staged only against the very file it names, with
//   instructions that hold and build the file it names; a removal only of
//   that file or of one already gone;
// - an update that completes changes exactly the files its records name,
//   each holding what the last record for it inflates to by zlib on its
//   own or a delta builds from the old file by a plain reading of the
//   layout, removes exactly the files its removals name and the folders
//   that held nothing else, adds no directory that is not a parent of one
//   of them, and leaves no side file;
// - nothing is ever written beside the install directory, and only files
//   and directories appear in it.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "app/globals.h"
#include "applier/apply_records.h"
#include "applier/update.h"
#include "package/delta_instructions.h"
#include "package/layout.h"
#include "package/side_file_names.h"
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

// The largest file a delta may build for the fuzz target to apply it.
constexpr std::uint64_t kLargestDeltaResult = 1 << 20;

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

std::set<std::string> EntriesOf(const fs::path& directory) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) names.insert(entry.path().filename().string());
  return names;
}

bool IsSideFile(const std::string& path) {
  return package::IsSideFileName(ProgramPath(fs::path(path).filename()));
}

// Hands out what a delta's instructions build, checking each piece against
// the sizes the record names.
class BoundsCheckingTarget final : public package::DeltaTarget {
 public:
  BoundsCheckingTarget(std::uint64_t oldSize, std::uint64_t newSize) : oldSize_(oldSize), newSize_(newSize) {}
  bool Copy(std::uint64_t oldOffset, const unsigned char*, std::size_t count) override {
    fuzz::Require(oldOffset <= oldSize_ && count <= oldSize_ - oldOffset, "a delta copy reaches past the old file");
    return Add(count);
  }
  bool Insert(const unsigned char*, std::size_t count) override { return Add(count); }
  std::uint64_t written() const { return written_; }

 private:
  bool Add(std::size_t count) {
    fuzz::Require(count <= newSize_ - written_, "a delta writes past the new size");
    written_ += count;
    return true;
  }
  std::uint64_t oldSize_;
  std::uint64_t newSize_;
  std::uint64_t written_ = 0;
};

// The package reader accepts a delta's instructions exactly when a plain
// reading of the layout does, and never hands on a piece out of bounds.
// The stream is left where it stood.
void CheckDeltaReader(std::FILE* package, const fuzz::RecordPeek& peek) {
  if (peek.kind != fuzz::PeekKind::kDelta || !peek.checksRead) return;
  const long start = std::ftell(package);
  package::RecordHead head;
  const bool readable = package::ReadRecordHead(package, head) == package::RecordKind::kDelta;
  fuzz::Require(!readable || std::ftell(package) == peek.streamStart, "a delta's streams start elsewhere");
  BoundsCheckingTarget target(peek.oldSize, peek.newSize);
  const bool accepted =
      readable && package::ReadDeltaInstructions(package, head, target) == package::DeltaResult::kComplete;
  const bool valid = readable && peek.deltaWhole && peek.oldSize <= package::kMaxDeltaFileSize &&
                     peek.newSize <= package::kMaxDeltaFileSize &&
                     fuzz::ReferenceRebuild(peek.deltaStreams, nullptr, peek.oldSize, peek.newSize).has_value();
  fuzz::Require(accepted == valid, accepted ? "the reader accepted an invalid delta" : "the reader refused a valid delta");
  fuzz::Require(!accepted || target.written() == peek.newSize, "an accepted delta built another size than it names");
  fuzz::Require(!accepted || std::ftell(package) == peek.streamEnd, "an accepted delta left the carrier elsewhere");
  fuzz::Require(std::fseek(package, start, SEEK_SET) == 0, "cannot seek back after reading a delta");
}

// The step of the record walk: each record peeked at before it is staged,
// and the install directory checked after it.
class CheckedStaging {
 public:
  CheckedStaging(const std::uint8_t* carrier, std::size_t size, const fs::path& install, applier::Update& update)
      : carrier_(carrier), size_(size), install_(install), update_(update), before_(fuzz::SnapshotTree(install)) {}

  int operator()(std::FILE* package) {
    const fuzz::RecordPeek peek = fuzz::PeekRecord(package, carrier_, size_, g_installDir);
    // Counted zeros and seeks back let a few bytes of delta build a file of
    // any size: one larger than the fuzzer wants to write is left unread,
    // and the update fails there as a refused record would.
    if (peek.kind == fuzz::PeekKind::kDelta && peek.checksRead && peek.newSize > kLargestDeltaResult) return 0;
    CheckDeltaReader(package, peek);
    const int result = ApplyNextRecord(package, update_);
    const fuzz::TreeSnapshot now = fuzz::SnapshotTree(install_);
    fuzz::Require(now.others.empty(), ("not a file or a directory: " + fuzz::ListPaths(now.others)).c_str());
    const std::vector<std::string> removed = fuzz::RemovedEntries(before_, now);
    fuzz::Require(removed.empty(), ("staging removed " + fuzz::ListPaths(removed)).c_str());
    for (const std::string& path : fuzz::AddedOrChangedFiles(before_, now)) {
      fuzz::Require(before_.files.count(path) == 0 && IsSideFile(path), ("staging changed " + path).c_str());
    }
    if (result == 1) {
      fuzz::Require(peek.kind != fuzz::PeekKind::kOther && !peek.destination.empty(),
                    "staged a record without a known tag and a path");
      fuzz::Require(std::ftell(package) == peek.streamEnd, "the carrier is not left right after the staged record");
      StagedRecord record{peek, NameBefore(peek.destination), std::nullopt};
      switch (peek.kind) {
        case fuzz::PeekKind::kFile:
          fuzz::Require(peek.content.has_value(), "staged a record whose zlib stream does not inflate in full");
          record.content = peek.content;
          break;
        case fuzz::PeekKind::kDelta:
          record.content = CheckedRebuild(peek, record.name);
          break;
        default:
          CheckRemovalBase(peek, record.name);
          break;
      }
      staged_.push_back(record);
    }
    return result;
  }

  // A record that was staged: what it was, the generic name below the
  // install directory of the file it names as that stood before the update
  // (empty when there was none), and the content it writes (none for a
  // removal).
  struct StagedRecord {
    fuzz::RecordPeek peek;
    std::string name;
    std::optional<std::string> content;
  };

  const fuzz::TreeSnapshot& before() const { return before_; }
  const std::vector<StagedRecord>& staged() const { return staged_; }

 private:
  std::string NameBefore(const std::wstring& destination) const {
    for (const auto& [path, content] : before_.files) {
      if (SameFile(install_ / path, destination)) return path;
    }
    return std::string();
  }

  // A staged delta: its old file was there as named, and a plain reading
  // of its instructions over that file builds the file it names.
  std::string CheckedRebuild(const fuzz::RecordPeek& peek, const std::string& name) const {
    fuzz::Require(peek.deltaWhole && peek.checksRead, "staged a delta that cannot be read whole");
    fuzz::Require(!name.empty(), "staged a delta whose old file is not there");
    const std::string& old = before_.files.at(name);
    fuzz::Require(old.size() == peek.oldSize && fuzz::Crc32Of(old) == peek.oldCrc,
                  "staged a delta against another file than it names");
    const std::optional<std::string> built = fuzz::ReferenceRebuild(peek.deltaStreams, &old, peek.oldSize, peek.newSize);
    fuzz::Require(built.has_value(), "staged a delta whose instructions do not hold");
    fuzz::Require(fuzz::Crc32Of(*built) == peek.newCrc, "staged a delta that builds another file than it names");
    return *built;
  }

  // A staged removal names a file that is gone already or the very file there.
  void CheckRemovalBase(const fuzz::RecordPeek& peek, const std::string& name) const {
    fuzz::Require(peek.checksRead, "staged a removal that cannot be read whole");
    if (name.empty()) return;
    const std::string& old = before_.files.at(name);
    fuzz::Require(old.size() == peek.oldSize && fuzz::Crc32Of(old) == peek.oldCrc,
                  "staged the removal of another file than it names");
  }

  const std::uint8_t* carrier_;
  std::size_t size_;
  fs::path install_;
  applier::Update& update_;
  fuzz::TreeSnapshot before_;  // the install tree before the update
  std::vector<StagedRecord> staged_;
};

void CheckUnchanged(const fuzz::TreeSnapshot& before, const fuzz::TreeSnapshot& after) {
  const std::vector<std::string> changed = fuzz::AddedOrChangedFiles(before, after);
  fuzz::Require(changed.empty(), ("a failed update changed " + fuzz::ListPaths(changed)).c_str());
  const std::vector<std::string> removed = fuzz::RemovedEntries(before, after);
  fuzz::Require(removed.empty(), ("a failed update removed " + fuzz::ListPaths(removed)).c_str());
  fuzz::Require(after.directories == before.directories, "a failed update left a directory it created");
}

// The generic path below `install` of a file that `destination` names.
std::string RelativeName(const fs::path& install, const std::wstring& destination) {
  for (const auto& [path, content] : fuzz::SnapshotTree(install).files) {
    if (SameFile(install / path, destination)) return path;
  }
  return std::string();
}

void CheckCompleted(const fs::path& install, const CheckedStaging& staging, const fuzz::TreeSnapshot& after) {
  // Relative path -> content of the last record for it; none for a removal.
  std::map<std::string, std::optional<std::string>> expected;
  for (const auto& record : staging.staged()) {
    if (record.peek.kind == fuzz::PeekKind::kRemoval) {
      if (!record.name.empty()) expected[record.name] = std::nullopt;
      continue;
    }
    const std::string name = RelativeName(install, record.peek.destination);
    fuzz::Require(!name.empty(), "a completed update left a record's destination missing");
    expected[name] = record.content;
  }
  for (const auto& [name, content] : expected) {
    if (content) {
      fuzz::Require(after.files.count(name) == 1 && after.files.at(name) == *content,
                    ("the applied file does not hold what its record builds: " + name).c_str());
    } else {
      fuzz::Require(after.files.count(name) == 0, ("a removed file is still there: " + name).c_str());
    }
  }
  for (const std::string& path : fuzz::AddedOrChangedFiles(staging.before(), after)) {
    fuzz::Require(expected.count(path) == 1, ("the update changed a file no record names: " + path).c_str());
  }
  // What went: files that removals name, and folders that held nothing else.
  for (const std::string& path : fuzz::RemovedEntries(staging.before(), after)) {
    if (staging.before().files.count(path) == 1) {
      fuzz::Require(expected.count(path) == 1 && !expected.at(path), ("the update removed " + path).c_str());
      continue;
    }
    const std::string prefix = path + "/";
    for (const auto& [name, content] : staging.before().files) {
      const bool inside = name.compare(0, prefix.size(), prefix) == 0;
      fuzz::Require(!inside || (expected.count(name) == 1 && !expected.at(name)),
                    ("the update removed a folder that held a file no removal names: " + path).c_str());
    }
  }
  for (const std::string& directory : after.directories) {
    if (staging.before().directories.count(directory) == 1) continue;
    const std::string prefix = directory + "/";
    bool parent = false;
    for (const auto& [name, content] : expected) {
      parent = parent || (content && name.compare(0, prefix.size(), prefix) == 0);
    }
    fuzz::Require(parent, ("the update made a directory that holds none of its files: " + directory).c_str());
  }
}

void CheckNothingBeside(const fs::path& work) {
  fuzz::Require(EntriesOf(g_scratch) == std::set<std::string>{kWorkName},
                "something was written beside the carrier's directory");
  fuzz::Require(EntriesOf(work) == std::set<std::string>{kCarrierName, kInstallName},
                "something was written beside the install directory");
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
    if (package::LocatePackage(carrier.get()) == package::LocateResult::kFound) {
      applier::Update update(g_installDir);
      CheckedStaging staging(data, size, install, update);
      const bool completed = applier::WalkRecords(carrier.get(), staging) && update.Commit();
      if (!completed) update.Undo();
      const fuzz::TreeSnapshot after = fuzz::SnapshotTree(install);
      if (completed) {
        CheckCompleted(install, staging, after);
      } else {
        CheckUnchanged(staging.before(), after);
      }
    }
    CheckNothingBeside(work);
  }

  g_installDir.clear();
  fs::remove_all(work);
  return 0;
}
