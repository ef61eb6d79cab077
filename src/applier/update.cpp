// Stage, commit and undo of one update.
#include "applier/update.h"

#include "applier/inflate_to_file.h"
#include "applier/open_output_creating_dirs.h"
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

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

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

bool Update::ReachesThroughLink(const std::wstring& destination) {
  // Records of one folder mostly come together: each folder is looked at
  // once.
  std::wstring folder = FolderOf(destination);
  if (folder == linkFreeFolder_) return false;
  // Every folder below the install directory, shortest first. The install
  // directory itself may be reached through a link; the folders that the
  // update creates later are new, and no link. The destination was joined
  // in canonical form, so the install directory's length is taken in that
  // form too.
  std::wstring root = installDir_;
  platform::JoinPath(root, std::wstring());
  for (std::size_t end = root.size() + 1; end < destination.size(); ++end) {
    if (IsSeparator(destination[end]) && platform::IsLink(destination.substr(0, end))) return true;
  }
  linkFreeFolder_ = std::move(folder);
  return false;
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

bool Update::Stage(std::FILE* package, const std::wstring& packagePath, const platform::FileTimes& times) {
  if (!Lock()) return false;
  std::wstring destination = installDir_;
  if (!platform::JoinPath(destination, packagePath) || !SideFileNamesFit(destination)) return false;
  if (ReachesThroughLink(destination)) return false;
  // Found now, before anything is replaced: a directory in the way, a
  // read-only file or a game that is still running.
  const platform::Occupant occupant = platform::OccupantOf(destination);
  if (occupant == platform::Occupant::kInTheWay) return false;

  StagedFile file{paths_.size(), static_cast<std::uint16_t>(packagePath.size()), 0, 0,
                  occupant == platform::Occupant::kReplaceable, Step::kStaging, times, {}};
  platform::UniqueFile partial = CreatePartial(destination, file);
  if (!partial) return false;
  // The undo touches a name only while it still leads to this file.
  const std::optional<platform::FileIdentity> identity = platform::IdentityOfStream(partial.get());
  if (!identity) {
    partial.reset();
    platform::RemoveFile(SideFileName(destination, SideFile::kPartial, file.partialAttempt));
    return false;
  }
  file.partial = *identity;
  for (const wchar_t unit : packagePath) paths_.push_back(static_cast<char16_t>(unit));
  files_.push_back(file);
  // The partial file is listed before it is written, so that an undo
  // removes it whatever happens from here on.
  const bool inflated = InflateToFile(package, partial.get()) == 1;
  if (!CloseWritten(partial.release()) || !inflated) return false;
  files_.back().step = Step::kStaged;
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

bool Update::MoveIntoPlace() {
  for (StagedFile& file : files_) {
    const std::wstring destination = DestinationOf(file);
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
    Undo();
    return false;
  }
  finished_ = true;
  DropBackups();
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
      RemoveIfStill(partial, file.partial);
      break;
    case Step::kBackedUp:
      // The link was made by this update: no other file could take its name.
      platform::RemoveFile(backup);
      RemoveIfStill(partial, file.partial);
      break;
    case Step::kMoved:
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
