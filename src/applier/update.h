// One update of the install directory, as a transaction. Stage: every file
// is inflated into a partial file beside its destination, and nothing that
// exists is replaced. Commit: all partial files are made durable at once,
// then moved over their destinations. Undo: whatever the update did, and
// only that, is reversed, so that a failed update leaves the install
// directory as it was. From the first stage to the end of the commit or the
// undo the update holds the install directory's lock, so that two runs never
// update one game at once.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

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

  // Stages one file: `packagePath` (already judged to lie inside the
  // install directory) joined to the install directory is the destination;
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
  // disk).
  bool Stage(std::FILE* package, const std::wstring& packagePath, const platform::FileTimes& times);

  // Makes every staged file durable, moves each over its destination in the
  // order staged (a later record for the same path wins), gives each its
  // times, flushes the folders moved into and drops what an undo would have
  // needed. False when another update holds the install directory's lock,
  // or when a flush or a move fails; the update is then undone.
  bool Commit();

  // Reverses everything done so far, newest first: partial files removed,
  // replaced files moved back with their times, the files that the update
  // created removed, and the folders it created removed when empty. A
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
    Step step;
    platform::FileTimes times;
    platform::FileIdentity partial;  // the partial file, under each name it takes
  };

  // Takes the install directory's lock unless it is held; false when
  // another update holds it.
  bool Lock();
  // True when a folder between the install directory and `destination`
  // is a link.
  bool ReachesThroughLink(const std::wstring& destination);
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
  std::wstring linkFreeFolder_;               // the last folder found free of links
  platform::FileLock lock_;
  bool finished_ = false;                     // committed or undone
};

}  // namespace applier
