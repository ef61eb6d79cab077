// Stage, commit and undo of one update.
#include "applier/update.h"

#include "applier/inflate_to_file.h"
#include "applier/open_output_creating_dirs.h"
#include "applier/rebuild_from_delta.h"
#include "applier/restore_file_times.h"
#include "applier/side_files.h"
#include "package/side_file_names.h"

namespace applier {
namespace {

// Writes what the stream still buffers and closes it, which releases it
// either way; false when either fails (a full disk).
bool CloseWritten(std::FILE* stream) {
  const bool written = std::fflush(stream) == 0;
  return std::fclose(stream) == 0 && written;
}

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? std::wstring(L".") : path.substr(0, separator);
}

// Removes the file at `path` if it is still the file `identity` names.
void RemoveIfStill(const std::wstring& path, const platform::FileIdentity& identity) {
  if (platform::IdentityOfName(path) == identity) platform::RemoveFile(path);
}

}  // namespace

Update::~Update() { Undo(); }

bool Update::Lock() {
  if (lock_.Held()) return true;
  // A second run does not wait for the first. An update lasts as long as
  // its files take, so a bounded wait would still fail behind a large one,
  // at a moment that depends on the disk; and a run that waits shows
  // nothing meanwhile, which is how a player comes to start a patch twice.
  // It fails at once, having touched nothing, and the first run's own
  // message tells how the game stands.
  std::wstring path = installDir_;
  return platform::JoinPath(path, package::kLockFileName) && lock_.Take(path);
}

bool Update::Fail(const UpdateFault& fault) {
  if (fault_.kind == FaultKind::kNone) fault_ = fault;
  return false;
}

bool Update::Fail(FaultKind kind, const std::wstring& path) {
  UpdateFault fault;
  fault.kind = kind;
  fault.path = path;
  return Fail(fault);
}

void Update::RefuseRecord(const std::wstring& path) { Fail(FaultKind::kBadRecord, path); }

DestinationCheck Update::Check(const package::RecordHead& head, package::RecordKind kind) {
  if (!Lock()) {
    Fail(FaultKind::kLocked, head.path);
    return DestinationCheck{};
  }
  UpdateFault fault;
  DestinationCheck check = CheckDestination(installDir_, head, kind, links_, fault);
  if (!check.ok) Fail(fault);
  return check;
}

std::wstring Update::DestinationOf(const StagedFile& file) const {
  const auto start = paths_.begin() + static_cast<std::ptrdiff_t>(file.pathStart);
  std::wstring destination = installDir_;
  // It fitted when the file was staged.
  platform::JoinPath(destination, std::wstring(start, start + file.pathUnits));
  return destination;
}

platform::UniqueFile Update::CreatePartial(const std::wstring& destination, StagedFile& file) {
  for (unsigned attempt = 0; attempt < kSideNameAttempts; ++attempt) {
    const std::wstring name = SideFileName(destination, SideFile::kPartial, attempt);
    // The creation is exclusive: a file of that name, a leftover of an
    // interrupted update or not, is never touched, and the next name is tried.
    platform::UniqueFile stream(OpenOutputCreatingDirs(name, createdFolders_));
    if (stream) {
      file.partialAttempt = static_cast<std::uint8_t>(attempt);
      return stream;
    }
    if (platform::OccupantOf(name) == platform::Occupant::kNothing) break;
  }
  return nullptr;
}

platform::UniqueFile Update::StartPartial(const std::wstring& destination, const std::wstring& packagePath,
                                          StagedFile file) {
  platform::UniqueFile partial = CreatePartial(destination, file);
  if (!partial) return nullptr;
  // The undo touches a name only while it still leads to this file.
  const std::optional<platform::FileIdentity> identity = platform::IdentityOfStream(partial.get());
  if (!identity) {
    partial.reset();
    platform::RemoveFile(SideFileName(destination, SideFile::kPartial, file.partialAttempt));
    return nullptr;
  }
  file.partial = *identity;
  for (const wchar_t unit : packagePath) paths_.push_back(static_cast<char16_t>(unit));
  // The partial file is listed before it is written, so that an undo
  // removes it whatever happens from here on.
  files_.push_back(file);
  return partial;
}

bool Update::Stage(std::FILE* package, const std::wstring& packagePath, const platform::FileTimes& times) {
  package::RecordHead head;
  head.path = packagePath;
  const DestinationCheck check = Check(head, package::RecordKind::kFile);
  if (!check.ok) return false;
  const StagedFile file{paths_.size(), static_cast<std::uint16_t>(packagePath.size()), 0, 0,
                        check.occupant == platform::Occupant::kReplaceable, false, Step::kStaging, times, {}, {}};
  platform::UniqueFile partial = StartPartial(check.destination, packagePath, file);
  if (!partial) return Fail(FaultKind::kCannotStage, packagePath);
  const bool inflated = InflateToFile(package, partial.get()) == 1;
  if (!CloseWritten(partial.release()) || !inflated) return Fail(FaultKind::kCannotStage, packagePath);
  files_.back().step = Step::kStaged;
  return true;
}

bool Update::StageDelta(std::FILE* package, const package::RecordHead& head) {
  const DestinationCheck check = Check(head, package::RecordKind::kDelta);
  if (!check.ok) return false;
  const StagedFile file{paths_.size(), static_cast<std::uint16_t>(head.path.size()), 0, 0, true, false,
                        Step::kStaging, head.times, {}, {}};
  platform::UniqueFile partial = StartPartial(check.destination, head.path, file);
  if (!partial) return Fail(FaultKind::kCannotStage, head.path);
  std::uint32_t built = 0;
  const RebuildResult result = RebuildFromDelta(package, head, check.base.get(), partial.get(), &built);
  const bool closed = CloseWritten(partial.release());
  UpdateFault fault;
  fault.path = head.path;
  switch (result) {
    case RebuildResult::kRebuilt:
      fault.kind = closed ? FaultKind::kNone : FaultKind::kCannotStage;
      break;
    case RebuildResult::kBadInstructions:
      fault.kind = FaultKind::kBadDelta;
      break;
    case RebuildResult::kResultDiffers:
      fault = UpdateFault{FaultKind::kResultDiffers, head.path, head.newFile.crc, built};
      break;
    case RebuildResult::kReadFailed:
      fault.kind = FaultKind::kBaseUnreadable;
      break;
    case RebuildResult::kWriteFailed:
      fault.kind = FaultKind::kCannotStage;
      break;
  }
  if (fault.kind != FaultKind::kNone) return Fail(fault);
  files_.back().step = Step::kStaged;
  return true;
}

bool Update::StageRemoval(const package::RecordHead& head) {
  const DestinationCheck check = Check(head, package::RecordKind::kRemoval);
  if (!check.ok) return false;
  if (check.baseMissing) return true;
  // The commit removes the file only while the name still leads to it.
  const std::optional<platform::FileIdentity> old = platform::IdentityOfName(check.destination);
  if (!old) return Fail(FaultKind::kBaseUnreadable, head.path);
  StagedFile file{paths_.size(), static_cast<std::uint16_t>(head.path.size()), 0, 0, true, true,
                  Step::kStaged, {}, {}, *old};
  for (const wchar_t unit : head.path) paths_.push_back(static_cast<char16_t>(unit));
  files_.push_back(file);
  return true;
}

bool Update::BackUp(const std::wstring& destination, StagedFile& file) {
  for (unsigned attempt = 0; attempt < kSideNameAttempts; ++attempt) {
    const std::wstring name = SideFileName(destination, SideFile::kBackup, attempt);
    if (platform::LinkFile(destination, name)) {
      file.backupAttempt = static_cast<std::uint8_t>(attempt);
      file.step = Step::kBackedUp;
      return true;
    }
    if (platform::OccupantOf(name) == platform::Occupant::kNothing) return false;
  }
  return false;
}

bool Update::FlushPartialFiles() const {
  platform::DiskFlush flush;
  for (const StagedFile& file : files_) {
    if (file.removes) continue;
    flush.AddFile(SideFileName(DestinationOf(file), SideFile::kPartial, file.partialAttempt));
  }
  return flush.Finish();
}

bool Update::FlushFolders() const {
  platform::DiskFlush flush;
  std::wstring previous;
  for (const StagedFile& file : files_) {
    std::wstring folder = FolderOf(DestinationOf(file));
    if (folder == previous) continue;  // records of one folder mostly come together
    flush.AddFolder(folder);
    previous = std::move(folder);
  }
  return flush.Finish();
}

bool Update::Remove(const std::wstring& destination, StagedFile& file) {
  // Another file in its place since the stage is not this update's to remove.
  if (!(platform::IdentityOfName(destination) == file.old) || !BackUp(destination, file) ||
      !platform::RemoveFile(destination)) {
    return false;
  }
  file.step = Step::kMoved;
  return true;
}

void Update::RemoveEmptiedFolders() const {
  std::wstring root = installDir_;
  platform::JoinPath(root, std::wstring());
  for (auto file = files_.rbegin(); file != files_.rend(); ++file) {
    if (!file->removes) continue;
    // Up from the removed file's folder while each one is empty, never the
    // install directory itself; a folder that holds anything stays.
    for (std::wstring folder = FolderOf(DestinationOf(*file)); folder.size() > root.size();
         folder = FolderOf(folder)) {
      if (!platform::RemoveEmptyDirectory(folder)) break;
    }
  }
}

bool Update::MoveIntoPlace() {
  for (StagedFile& file : files_) {
    const std::wstring destination = DestinationOf(file);
    if (file.removes) {
      if (!Remove(destination, file)) return false;
      continue;
    }
    // A second name for the old file keeps it for the undo; the move over
    // the destination then replaces it in one step.
    if (file.replaces && !BackUp(destination, file)) return false;
    if (!platform::MoveOverFile(SideFileName(destination, SideFile::kPartial, file.partialAttempt),
                                destination)) {
      return false;
    }
    file.step = Step::kMoved;
    // A file whose times cannot be set still counts as applied.
    RestoreFileTimes(destination, file.times);
  }
  return true;
}

bool Update::Commit() {
  // Every file is on the disk before the first one replaces anything: a
  // crash from here on leaves each destination whole, old or new.
  if (!Lock() || !FlushPartialFiles() || !MoveIntoPlace() || !FlushFolders()) {
    Fail(FaultKind::kCannotCommit, std::wstring());
    Undo();
    return false;
  }
  finished_ = true;
  DropBackups();
  // Only now are the removed files' folders empty: their second names
  // stood in them until the commit. A folder left by a crash here is empty
  // and harmless.
  RemoveEmptiedFolders();
  lock_.Release();
  return true;
}

void Update::UndoFile(const StagedFile& file) const {
  const std::wstring destination = DestinationOf(file);
  const std::wstring backup = SideFileName(destination, SideFile::kBackup, file.backupAttempt);
  const std::wstring partial = SideFileName(destination, SideFile::kPartial, file.partialAttempt);
  switch (file.step) {
    case Step::kStaging:
    case Step::kStaged:
      if (!file.removes) RemoveIfStill(partial, file.partial);
      break;
    case Step::kBackedUp:
      // The link was made by this update: no other file could take its name.
      platform::RemoveFile(backup);
      if (!file.removes) RemoveIfStill(partial, file.partial);
      break;
    case Step::kMoved:
      if (file.removes) {
        // Back under its name unless another file took the name meanwhile.
        if (platform::IdentityOfName(destination)) break;
        platform::FileTimes oldTimes;
        const bool haveTimes = platform::ReadFileTimes(backup, oldTimes);
        if (platform::MoveOverFile(backup, destination) && haveTimes) {
          platform::WriteFileTimes(destination, oldTimes);
        }
        break;
      }
      // Something else at the destination now (another program's file) is
      // not this update's to replace or remove; the old file then stays
      // under its second name rather than be lost.
      if (!(platform::IdentityOfName(destination) == file.partial)) break;
      if (file.replaces) {
        // The old file keeps its times under its second name, but Windows
        // may hand a name's creation time on to a file moved onto it.
        platform::FileTimes oldTimes;
        const bool haveTimes = platform::ReadFileTimes(backup, oldTimes);
        if (platform::MoveOverFile(backup, destination) && haveTimes) {
          platform::WriteFileTimes(destination, oldTimes);
        }
      } else {
        platform::RemoveFile(destination);
      }
      break;
  }
}

void Update::Undo() {
  if (finished_) return;
  finished_ = true;
  for (auto file = files_.rbegin(); file != files_.rend(); ++file) UndoFile(*file);
  for (auto folder = createdFolders_.rbegin(); folder != createdFolders_.rend(); ++folder) {
    platform::RemoveEmptyDirectory(*folder);
  }
  // The undone moves are made durable as the commit's would have been.
  FlushFolders();
  lock_.Release();
}

void Update::DropBackups() const {
  for (const StagedFile& file : files_) {
    if (file.replaces) {
      platform::RemoveFile(SideFileName(DestinationOf(file), SideFile::kBackup, file.backupAttempt));
    }
  }
}

}  // namespace applier
