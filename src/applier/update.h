// One update of the install directory, as a transaction. Stage: every file
// is inflated, or rebuilt from the old file by a delta, into a partial file
// beside its destination, every file to remove is checked, and nothing that
// exists is replaced. Commit: all partial files are made durable at once,
// then moved over their destinations, and the files to remove are removed.
// Undo: whatever the update did, and only that, is reversed, so that a
// failed update leaves the install directory as it was. From the first stage to the end of the commit or the
// undo the update holds the install directory's lock, so that two runs never
// update one game at once.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "applier/record_checks.h"
#include "applier/update_fault.h"
#include "package/record_reader.h"
#include "platform/platform.h"
#include "platform/unique_file.h"

namespace applier {

class Update {
 public:
  explicit Update(std::wstring installDir) : installDir_(std::move(installDir)) {}
  // Undoes the update unless it was committed.
  ~Update();
  Update(const Update&) = delete;
  Update& operator=(const Update&) = delete;

  // Stages one file: `packagePath` joined to the install directory is the
  // destination;
  // the zlib stream at the package stream's position is inflated into a new
  // partial file beside it, creating the directories it lacks. On success
  // the package stream stands on the next record.
  // False when another update of the install directory holds its lock, the
  // joined path or its side names do not fit in kMaxPath units, a folder
  // between the install directory and the destination is a link (which
  // would lead the update out of the install directory), something stands
  // at the destination that cannot be replaced (a directory, a read-only
  // file, a file held open by the running game), the partial file cannot be
  // created, the stream is damaged or cut short, or a write fails (a full
  // disk); also when the path would leave the install directory. Every
  // false here and below leaves in fault() why.
  bool Stage(std::FILE* package, const std::wstring& packagePath, const platform::FileTimes& times);

  // Stages a delta record whose head was read: the file at the destination
  // must be the old file the record names (its size and CRC-32, read once,
  // and no link); it is rebuilt with the instructions at the package
  // stream's position into a new partial file beside it, whose CRC-32 must
  // then be the one named. On success the package stream stands on the next
  // record. False for the reasons Stage gives, and when the old file is
  // missing, differs or cannot be read, or the instructions are damaged,
  // out of bounds or build another file.
  bool StageDelta(std::FILE* package, const package::RecordHead& head);

  // Stages a removal record: the file at the destination must be the one
  // the record names; the commit keeps it under a second name for the undo,
  // then removes it. A file that is gone already is no failure: nothing is
  // staged for it. False for the reasons Stage gives before it creates
  // anything, and when the file there differs.
  bool StageRemoval(const package::RecordHead& head);

  // Notes a record that could not be read at all, as the first fault.
  void RefuseRecord(const std::wstring& path);

  // The first fault of a stage or of the commit that failed.
  const UpdateFault& fault() const { return fault_; }

  // Makes every staged file durable, moves each over its destination in the
  // order staged (a later record for the same path wins), gives each its
  // times, removes the files to remove, flushes the folders moved into and
  // drops what an undo would have needed; then removes the folders that the
  // removals left empty. False when another update holds the install
  // directory's lock, when a file to remove was replaced since it was
  // checked, or when a flush, a move or a removal fails; the update is then
  // undone.
  bool Commit();

  // Reverses everything done so far, newest first: partial files removed,
  // replaced and removed files moved back with their times, the files that
  // the update created removed, and the folders it created removed when
  // empty. A
  // destination is restored or removed only while it is still the file that
  // the update moved there; whatever else stands there now is left alone,
  // and so is the old file's second name. A step that fails goes on to the
  // next. Does nothing once the update was committed or undone.
  void Undo();

 private:
  enum class Step : std::uint8_t { kStaging, kStaged, kBackedUp, kMoved };

  // What the update did for one record. Paths are kept in paths_, as the
  // package gives them, so that the list grows by a few dozen bytes a file.
  struct StagedFile {
    std::size_t pathStart;
    std::uint16_t pathUnits;
    std::uint8_t partialAttempt;
    std::uint8_t backupAttempt;
    bool replaces;  // a file stood at the destination when it was staged
    bool removes;   // a removal: no partial file; the commit removes the destination
    Step step;
    platform::FileTimes times;
    platform::FileIdentity partial;  // the partial file, under each name it takes
    platform::FileIdentity old;      // a removal's file, as checked
  };

  // Takes the install directory's lock unless it is held; false when
  // another update holds it.
  bool Lock();
  // The lock, then the record's checks against the install directory;
  // on failure the fault is noted and `check.ok` is false.
  DestinationCheck Check(const package::RecordHead& head, package::RecordKind kind);
  // Notes `fault` unless an earlier one was noted; returns false.
  bool Fail(const UpdateFault& fault);
  bool Fail(FaultKind kind, const std::wstring& path);
  // Lists a file staged into a new partial file beside `destination` and
  // returns the partial file, open for writing; null when it cannot be made.
  platform::UniqueFile StartPartial(const std::wstring& destination, const std::wstring& packagePath,
                                    StagedFile file);
  // Removes a staged removal's file, kept under a second name first.
  bool Remove(const std::wstring& destination, StagedFile& file);
  // Removes the folders that the removals left empty, deepest first, up
  // to the install directory.
  void RemoveEmptiedFolders() const;
  std::wstring DestinationOf(const StagedFile& file) const;
  platform::UniqueFile CreatePartial(const std::wstring& destination, StagedFile& file);
  bool BackUp(const std::wstring& destination, StagedFile& file);
  bool FlushPartialFiles() const;
  // Backs up and moves every staged file in turn; false at the first
  // failure, with what was done so far recorded for the undo.
  bool MoveIntoPlace();
  bool FlushFolders() const;
  void UndoFile(const StagedFile& file) const;
  void DropBackups() const;

  std::wstring installDir_;
  std::deque<char16_t> paths_;
  std::deque<StagedFile> files_;
  std::vector<std::wstring> createdFolders_;  // in the order created
  LinkProbe links_;
  UpdateFault fault_;
  platform::FileLock lock_;
  bool finished_ = false;                     // committed or undone
};

}  // namespace applier
