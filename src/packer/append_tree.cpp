// The depth-first walk of the source tree that hands every file to the
// record writer.
#include "packer/append_tree.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "app/globals.h"
#include "packer/debug_trace.h"
#include "packer/packable_name.h"
#include "packer/record_sink.h"
#include "platform/platform.h"

namespace packer {
namespace {

class TreeWalk {
 public:
  explicit TreeWalk(RecordSink& records) : records_(records) {}

  // Walks one directory, whose identity is `identity` when known, and
  // everything below it. A directory that cannot be listed gives true with
  // nothing written. False when the package could not be written whole;
  // the walk stops there.
  bool Walk(const std::wstring& directory, std::optional<platform::FileIdentity> identity);
  // How many entries the walk itself left out: names and paths that no
  // package can hold.
  std::size_t entriesLeftOut() const { return entriesLeftOut_; }

 private:
  // Each of these gives false only when the package could not be written
  // whole. An entry left out, or a file the writer skips, gives true.
  // One entry of `directory`'s listing: passed over, left out, or visited.
  bool VisitEntry(const std::wstring& directory, const platform::DirectoryEntry& entry);
  // Traces the directory and walks it unless it is already on the walk path.
  bool VisitDirectory(const std::wstring& path);
  // Traces the file and hands it to the record writer.
  bool VisitFile(const std::wstring& path);
  // Traces an entry that the walk leaves out, with its reason, and counts
  // it unless `counted` is false.
  void LeaveOut(const wchar_t* why, const std::wstring& shownPath, bool counted = true);

  RecordSink& records_;
  std::size_t entriesLeftOut_ = 0;
  // The directories from the root down to the one being listed. A link
  // back to one of them would walk the same files again, to the path limit.
  std::vector<platform::FileIdentity> walkPath_;
};

bool TreeWalk::Walk(const std::wstring& directory, std::optional<platform::FileIdentity> identity) {
  std::wstring pattern = directory;
  if (!platform::JoinPath(pattern, L"*")) {
    // A root that does not exist holds nothing to leave out.
    LeaveOut(L"path too long", platform::DisplayPath(directory + L"\\*"), platform::IsDirectory(directory));
    return true;
  }
  platform::DirectoryListing listing(pattern);
  if (!listing.IsOpen()) return true;
  if (identity) walkPath_.push_back(*identity);
  bool written = true;
  do {
    written = VisitEntry(directory, listing.Current());
  } while (written && listing.Next());
  if (identity) walkPath_.pop_back();
  return written;
}

bool TreeWalk::VisitEntry(const std::wstring& directory, const platform::DirectoryEntry& entry) {
  const std::wstring& name = entry.name;
  if (entry.isDirectory && (name == L"." || name == L"..")) return true;
  if (!IsPackableName(name)) {
    // The name is shown as it stands: a "\" in it is no separator.
    LeaveOut(L"name not allowed in a package", platform::DisplayPath(directory + L"\\") + name);
    return true;
  }
  // The join only ever adds the name: a name never holds a separator, and
  // a longer path is refused whole rather than cut.
  std::wstring path = directory;
  if (!platform::JoinPath(path, name)) {
    LeaveOut(L"path too long", platform::DisplayPath(directory + L"\\" + name));
    return true;
  }
  return entry.isDirectory ? VisitDirectory(path) : VisitFile(path);
}

bool TreeWalk::VisitDirectory(const std::wstring& path) {
  DebugTrace(L"<%ls>\n", platform::DisplayPath(path).c_str());
  const std::optional<platform::FileIdentity> identity = platform::IdentityOf(path);
  if (identity && std::find(walkPath_.begin(), walkPath_.end(), *identity) != walkPath_.end()) {
    DebugTrace(L"left out, already on the walk path: <%ls>\n", platform::DisplayPath(path).c_str());
    return true;
  }
  return Walk(path, identity);
}

bool TreeWalk::VisitFile(const std::wstring& path) {
  // Traced before the writer runs, so that a file it leaves out shows too.
  DebugTrace(L"%ls\n", platform::DisplayPath(path).c_str());
  return records_.Add(path);
}

void TreeWalk::LeaveOut(const wchar_t* why, const std::wstring& shownPath, bool counted) {
  DebugTrace(L"left out, %ls: %ls\n", why, shownPath.c_str());
  if (counted) ++entriesLeftOut_;
}

}  // namespace
}  // namespace packer

bool AppendTree(const std::wstring& root, std::size_t* entriesLeftOut) {
  const std::unique_ptr<packer::RecordSink> records = packer::MakeRecordSink(g_packageOut);
  packer::TreeWalk walk(*records);
  const bool whole = walk.Walk(root, platform::IdentityOf(root)) && records->Finish();
  if (entriesLeftOut != nullptr) *entriesLeftOut = walk.entriesLeftOut() + records->filesLeftOut();
  return whole;
}
