// Creating, committing and cleaning up the partial file of one record.
#include "applier/partial_file.h"

#include "applier/open_output_creating_dirs.h"
#include "platform/platform.h"

namespace applier {
namespace {

// A partial file survives only an interrupted run; a few other names keep
// such a leftover from blocking the record for good.
constexpr unsigned kNameAttempts = 10;

std::wstring PartialPathFor(const std::wstring& destination, unsigned attempt) {
  std::wstring path = destination + L".quorvane-partial";
  if (attempt > 0) path += L"-" + std::to_wstring(attempt);
  return path;
}

}  // namespace

PartialFile::~PartialFile() {
  stream_.reset();  // Windows deletes no open file
  if (!path_.empty()) platform::RemoveFile(path_);
}

bool PartialFile::Create(const std::wstring& destination) {
  for (unsigned attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::wstring candidate = PartialPathFor(destination, attempt);
    if (candidate.size() + 1 > platform::kMaxPath) return false;
    // The creation is exclusive: a file of that name, ours from an
    // interrupted run or not, is never touched, and the next name is tried.
    stream_.reset(OpenOutputCreatingDirs(candidate));
    if (!stream_) {
      if (platform::PathExists(candidate)) continue;
      return false;
    }
    destination_ = destination;
    path_ = candidate;
    return true;
  }
  return false;
}

bool PartialFile::ReplaceDestination() {
  // fclose releases the stream even when it fails, so it is no longer ours.
  std::FILE* stream = stream_.release();
  const bool written = platform::CommitFile(stream);
  const bool closed = std::fclose(stream) == 0;
  if (!written || !closed || !platform::MoveOverFile(path_, destination_)) return false;
  path_.clear();
  return true;
}

}  // namespace applier
