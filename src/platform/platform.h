// The one interface to the operating system. Everything above this header is
// portable; win32/ implements it with the Windows API, posix/ with POSIX calls.
//
// Paths are wide strings of UTF-16 code units in Windows form on every
// platform: "\" separates components. The POSIX implementation converts to
// UTF-8 and "/" only at the system call, and accepts "/" in paths it is given.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Longest path the program builds, in UTF-16 units including the terminator.
constexpr std::size_t kMaxPath = 260;

// Message box styles and answers, with the values Windows gives them.
enum MessageBoxStyle : unsigned {
  kMbOk = 0x00,
  kMbYesNo = 0x04,
  kMbIconError = 0x10,
  kMbIconQuestion = 0x20,
  kMbIconInformation = 0x40,
  kMbIconMask = 0xF0,
};
constexpr int kIdOk = 1;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// A file time: 100-nanosecond intervals since 1601-01-01 00:00 UTC.
using FileTime = std::uint64_t;

struct FileTimes {
  FileTime creation = 0;
  FileTime lastAccess = 0;
  FileTime lastWrite = 0;
};

// Identifies one file on one volume, whatever name reaches it.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  bool operator==(const FileIdentity& other) const {
    return volume == other.volume && index == other.index;
  }
};

// ---- Process -------------------------------------------------------------

// The whole command line split into words under the platform's quoting
// rules; word 0 is the program word as written. Empty if it cannot be split.
std::vector<std::wstring> CommandLineWords();

// The running program's own file, as the system knows it; empty on failure.
std::wstring OwnExecutablePath();

// The current directory, or empty when it does not fit in kMaxPath units.
std::wstring CurrentDirectory();

// ---- Paths ---------------------------------------------------------------

// Appends `more` to `path` with one backslash between them (none added when
// `path` already ends in one), dropping "." segments and resolving ".."
// ones, as Windows' PathAppendW does. An empty `path` gives `more` alone.
// Returns false and leaves `path` unchanged when the result would not fit
// in kMaxPath units.
bool JoinPath(std::wstring& path, const std::wstring& more);

// The path of `file` relative to the directory `root`, as ".\" followed by
// the components below the root joined by "\"; empty when `file` does not
// lie below `root`.
std::wstring RelativePath(const std::wstring& root, const std::wstring& file);

// `path` as this system writes paths for people, as in the packer's trace:
// unchanged on Windows, with "/" for every "\\" on POSIX.
std::wstring DisplayPath(const std::wstring& path);

// True when a file or directory exists at `path`.
bool PathExists(const std::wstring& path);

// True when `path` is an existing directory.
bool IsDirectory(const std::wstring& path);

// Creates one directory; the caller judges the outcome by what exists after.
void MakeDirectory(const std::wstring& path);

// The identity of the file that `path` leads to, following links.
std::optional<FileIdentity> IdentityOf(const std::wstring& path);

// The identity of what the name `path` itself stands for: a link's own,
// not its target's. Nothing when the name does not exist or cannot be read.
std::optional<FileIdentity> IdentityOfName(const std::wstring& path);

// True when `path` names a symbolic link, a junction or any other reparse
// point, which leads somewhere else; false for a plain file or directory
// and for a name that does not exist.
bool IsLink(const std::wstring& path);

// The identity of the file behind an open stream.
std::optional<FileIdentity> IdentityOfStream(std::FILE* stream);

// The size of the file behind an open stream, whatever it is: the stream
// functions measure positions in a long, which Windows keeps to 32 bits.
std::optional<std::uint64_t> SizeOfStream(std::FILE* stream);

// ---- Files ---------------------------------------------------------------
//
// A call below that creates, opens, flushes, links, moves or removes a file
// tries again when another program holds the file for a moment, within the
// budget of platform/retry.h; its result is that of its last try.

// Opens a stdio stream by wide path; `mode` is an fopen mode such as "rb".
std::FILE* OpenFile(const std::wstring& path, const char* mode);

// Sets the size of an open stream's file, any size the file system allows
// (used to cut back a failed append).
bool TruncateFile(std::FILE* stream, std::uint64_t size);

// Moves `from` over `to` in one step: at every moment `to` names either its
// old file or the new one. False when `to` is a directory or a read-only
// file. On POSIX the move is durable once a DiskFlush over `to`'s folder has
// finished; on Windows it is written through when the call returns.
bool MoveOverFile(const std::wstring& from, const std::wstring& to);

// Gives the file at `existing` the second name `link` (a link itself, not
// its target, when `existing` is a symbolic link), without copying
// where the file system has hard links (else as a copy with the same
// times). False when `link` exists already or cannot be made.
bool LinkFile(const std::wstring& existing, const std::wstring& link);

// Deletes a file; false when nothing was deleted.
bool RemoveFile(const std::wstring& path);

// Removes a directory if it is empty; false when it is not removed.
bool RemoveEmptyDirectory(const std::wstring& path);

// What stands at a path that a file is to replace.
enum class Occupant {
  kNothing,      // no file of that name: a new one can be moved there
  kReplaceable,  // a file that can be replaced now
  kInTheWay,     // a directory, a read-only file, or a file that another
                 // program holds open against replacement (Windows)
};
Occupant OccupantOf(const std::wstring& path);

// Reads the three times of an existing file without opening its content.
bool ReadFileTimes(const std::wstring& path, FileTimes& times);

// Sets the times of an existing file; a symbolic link's own, never its
// target's. Where the system cannot set a creation time it passes over
// that one.
bool WriteFileTimes(const std::wstring& path, const FileTimes& times);

// ---- Directory listing ---------------------------------------------------

struct DirectoryEntry {
  std::wstring name;
  bool isDirectory = false;  // set for links to directories too
};

// Lists one directory through a search handle, like FindFirstFileW: the
// pattern is the directory joined with "*". Every entry is delivered, "."
// and ".." included. The handle is closed when the listing is destroyed.
class DirectoryListing {
 public:
  explicit DirectoryListing(const std::wstring& pattern);
  ~DirectoryListing();
  DirectoryListing(const DirectoryListing&) = delete;
  DirectoryListing& operator=(const DirectoryListing&) = delete;

  // False when the directory could not be listed at all.
  bool IsOpen() const;
  // The current entry; valid while IsOpen() and until Next() fails.
  const DirectoryEntry& Current() const { return current_; }
  // Moves to the next entry; false at the end of the listing or on error.
  bool Next();

 private:
  void* handle_ = nullptr;
  DirectoryEntry current_;
};

// ---- User interaction and diagnostics ------------------------------------

// Shows a modal message box without an owner window and returns the answer
// (0 when the box could not be shown).
int ShowMessageBox(const std::wstring& text, const std::wstring& caption,
                   unsigned style);

// Sends text to the debugger output.
void DebugOutput(const std::wstring& text);
void DebugOutputNarrow(const char* text);

// Reads a per-user registry string value (HKEY_CURRENT_USER). The value,
// with its terminator, must fit in `maxUnits`; a longer or unterminated
// value, or none at all, gives nothing.
std::optional<std::wstring> ReadUserRegistryString(const std::wstring& subkey,
                                                   const std::wstring& name,
                                                   std::size_t maxUnits);

// ---- New files -----------------------------------------------------------

// Creates `path` as a new file and opens it for writing, as fopen "wb"
// would; null when a file or directory of that name exists already or the
// file cannot be created. An existing file is never opened or truncated.
std::FILE* CreateNewFile(const std::wstring& path);

// ---- One update at a time ------------------------------------------------

// Holds a lock file: while one process holds the lock of a path, no other
// process can take it, whatever spelling of the path reaches the file. The
// file is made when the lock is taken and removed when it is released, on
// Windows by the system even when the process is ended.
class FileLock {
 public:
  FileLock() = default;
  // Releases the lock if it is held.
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Takes the lock of `path` without waiting. False when another process
  // holds it, when `path` is a link, or when the file cannot be made.
  bool Take(const std::wstring& path);
  // Removes the lock file and releases the lock; does nothing when the lock
  // is not held.
  void Release();
  bool Held() const { return handle_ != kNoHandle; }

 private:
  static constexpr std::intptr_t kNoHandle = -1;  // also Windows' INVALID_HANDLE_VALUE
  std::intptr_t handle_ = kNoHandle;  // a descriptor on POSIX, a HANDLE on Windows
  std::wstring path_;
};

// ---- Durability ----------------------------------------------------------

// Makes files and folders durable together, so that one slow flush to the
// disk serves many of them: POSIX flushes each file system involved once,
// Windows flushes each file (its moves are written through already).
class DiskFlush {
 public:
  DiskFlush() = default;
  ~DiskFlush();
  DiskFlush(const DiskFlush&) = delete;
  DiskFlush& operator=(const DiskFlush&) = delete;

  // The content of this closed file must reach the disk.
  void AddFile(const std::wstring& path);
  // The names in this folder (files moved or created in it) must reach the
  // disk.
  void AddFolder(const std::wstring& path);
  // Flushes what was added; false when any of it could not be flushed.
  bool Finish();

 private:
  struct Volume {
    std::uint64_t id;
    int handle;  // an open descriptor on the file system
  };
  std::vector<Volume> volumes_;  // POSIX: each file system met; Windows: none
  bool failed_ = false;
};

// ---- Test hooks ----------------------------------------------------------

// Makes the n-th MoveOverFile from now fail (1 is the next one), as a
// failing disk would; 0 turns that off. `beforeFailing`, when given, is
// called just before that move fails, as another program could act at that
// moment. For the tests of the undo only.
void FailNthMoveForTesting(unsigned n, void (*beforeFailing)() = nullptr);

}  // namespace platform
