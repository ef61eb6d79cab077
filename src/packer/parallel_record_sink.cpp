// Each file's record is made on a worker into its own output, and copied
// into the package when every record before it is there. Every record's
// zlib stream is independent of the others, so the bytes do not depend on
// which worker made it or when.
#include "packer/parallel_record_sink.h"

#include <unistd.h>

#include <climits>
#include <filesystem>

#include "app/globals.h"
#include "packer/package_output.h"

namespace packer {
namespace {

// A record being made on a worker, kept by the ordered workers until its turn.
class JobRecordOutput : public RecordOutput {
 public:
  explicit JobRecordOutput(publisher::JobOutput& output) : output_(output) {}
  bool Write(const void* bytes, std::size_t count) override { return output_.Write(bytes, count); }

 private:
  publisher::JobOutput& output_;
};

// The work's status carries the whole outcome.
int Encode(const RecordOutcome& outcome) {
  return static_cast<int>(outcome.result) * 16 + static_cast<int>(outcome.why);
}
RecordOutcome Decode(int status) {
  return RecordOutcome{static_cast<RecordResult>(status / 16), static_cast<LeftOutBecause>(status % 16)};
}

// The folder of the file open as `stream`, where spilled records take room
// on the disk that the package goes to anyway; the system's temporary
// folder when it cannot be told.
std::string FolderOf(std::FILE* stream) {
  char target[PATH_MAX];
  const std::string link = "/proc/self/fd/" + std::to_string(fileno(stream));
  const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
  std::error_code ignored;
  if (length <= 0 || target[0] != '/') return std::filesystem::temp_directory_path(ignored).string();
  return std::filesystem::path(std::string(target, static_cast<std::size_t>(length))).parent_path().string();
}

}  // namespace

ParallelRecordSink::ParallelRecordSink(std::FILE* package, unsigned workers)
    : package_(package),
      sourceRoot_(g_sourceRoot),
      packageIdentity_(platform::IdentityOfStream(package)),
      workers_(workers, FolderOf(package)) {}

bool ParallelRecordSink::Add(const std::wstring& sourcePath) {
  return workers_.Submit(
      [this, sourcePath](publisher::JobOutput& jobOutput) {
        JobRecordOutput output(jobOutput);
        return Encode(WriteFileRecordTo(output, sourceRoot_, sourcePath, packageIdentity_));
      },
      [this, sourcePath](publisher::JobResult& result) {
        for (publisher::Piece piece; result.Next(piece);) {
          if (!WriteToPackage(package_, piece.bytes, piece.count)) return false;
        }
        const RecordOutcome outcome = Decode(result.status());
        if (outcome.result == RecordResult::kSkipped) NoteLeftOut(sourcePath, outcome.why);
        return outcome.result != RecordResult::kPackageBroken;
      });
}

}  // namespace packer
