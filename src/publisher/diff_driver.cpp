// The --diff driver: lists both releases, plans the patch, builds each
// step's record on a worker and appends the records in the plan's order,
// then the trailer.
#include "publisher/diff_driver.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "package/layout.h"
#include "package/trailer.h"
#include "packer/package_output.h"
#include "packer/record_output.h"
#include "packer/write_file_record.h"
#include "platform/platform.h"
#include "platform/posix/native_path.h"
#include "platform/unique_file.h"
#include "publisher/delta_record.h"
#include "publisher/diff_plan.h"
#include "publisher/ordered_workers.h"
#include "publisher/patch_report.h"
#include "publisher/path_text.h"
#include "publisher/publisher_options.h"
#include "publisher/same_file_content.h"

namespace publisher {
namespace {

// What building one step's record gave: the status a worker hands to the
// delivery.
enum class Built : int {
  kWholeFile,  // a "file" record
  kDelta,      // a delta record
  kRemoval,    // a removal record
  kNothing,    // a folder: the applier removes it with the last removal in it
  kLeftOut,    // the file could not be read, or is the package; nothing was built
  kFailed,     // the record could not be built whole
};

// The two releases' folders and the package being written.
struct Releases {
  std::wstring oldRoot;
  std::wstring newRoot;
  std::optional<platform::FileIdentity> package;
};

// The folder root joined with a package path's components (the path less
// its ".\"), as the listing joined them, so the join fits and the record
// writer finds the same path below the root.
std::wstring InTree(const std::wstring& root, const std::wstring& packagePath) {
  std::wstring path = root;
  platform::JoinPath(path, packagePath.compare(0, 2, L".\\") == 0 ? packagePath.substr(2) : packagePath);
  return path;
}

// A record made on a worker, kept by the ordered workers until its turn.
class JobRecordOutput final : public packer::RecordOutput {
 public:
  explicit JobRecordOutput(JobOutput& output) : output_(output) {}
  bool Write(const void* bytes, std::size_t count) override { return output_.Write(bytes, count); }

 private:
  JobOutput& output_;
};

// A "file" record of the new release's file, by pack mode's record writer.
Built WriteWholeFile(const Releases& releases, const std::wstring& newPath, JobOutput& output) {
  JobRecordOutput records(output);
  const packer::RecordResult result =
      packer::WriteFileRecordTo(records, releases.newRoot, newPath, releases.package).result;
  if (result == packer::RecordResult::kSkipped) return Built::kLeftOut;
  return result == packer::RecordResult::kWritten ? Built::kWholeFile : Built::kFailed;
}

bool IsThePackage(const Releases& releases, const std::wstring& path) {
  const std::optional<platform::FileIdentity> identity = platform::IdentityOf(path);
  return releases.package && identity && *identity == *releases.package;
}

// Builds the record of one step of the plan into `output`.
Built BuildRecord(const Releases& releases, const DiffStep& step, JobOutput& output) {
  const std::wstring oldPath = InTree(releases.oldRoot, step.oldPath);
  const std::wstring newPath = InTree(releases.newRoot, step.path);
  std::vector<unsigned char> record;
  switch (step.kind) {
    case StepKind::kNewFile:
      return WriteWholeFile(releases, newPath, output);
    case StepKind::kChangedFile: {
      ChangedFileEncoding encoding = ChangedFileEncoding::kWholeFile;
      // An old file that cannot be read is no base for a delta; the new
      // one replaces it whole.
      if (IsThePackage(releases, oldPath) ||
          !EncodeChangedFileRecord(oldPath, newPath, step.path, record, &encoding)) {
        return WriteWholeFile(releases, newPath, output);
      }
      if (!output.Write(record.data(), record.size())) return Built::kFailed;
      return encoding == ChangedFileEncoding::kDelta ? Built::kDelta : Built::kWholeFile;
    }
    case StepKind::kRemovedFile:
      if (IsThePackage(releases, oldPath) || !EncodeRemovalRecord(oldPath, step.path, record)) {
        return Built::kLeftOut;
      }
      return output.Write(record.data(), record.size()) ? Built::kRemoval : Built::kFailed;
    case StepKind::kRemovedFolder:
      return Built::kNothing;
  }
  return Built::kFailed;
}

// What the patch holds, for the line of totals.
struct Totals {
  std::uint64_t newFiles = 0;
  std::uint64_t changed = 0;
  std::uint64_t deltas = 0;
  std::uint64_t removed = 0;
  std::uint64_t folders = 0;
  std::uint64_t leftOut = 0;
};

void Count(const DiffStep& step, Built built, Totals& totals) {
  if (built == Built::kLeftOut) {
    ++totals.leftOut;
    return;
  }
  switch (step.kind) {
    case StepKind::kNewFile:
      ++totals.newFiles;
      break;
    case StepKind::kChangedFile:
      ++totals.changed;
      if (built == Built::kDelta) ++totals.deltas;
      break;
    case StepKind::kRemovedFile:
      ++totals.removed;
      break;
    case StepKind::kRemovedFolder:
      ++totals.folders;
      break;
  }
}

std::string ConflictText(const DiffConflict& conflict) {
  return "\"" + PathText(conflict.oldPath) + "\" in OLD and \"" + PathText(conflict.newPath) +
         "\" in NEW are a file in one and a folder in the other; one patch cannot turn either into the other";
}

// Where the workers spill records that wait for their turn: beside the
// target, on the disk the package goes to anyway.
std::string SpillFolder(const std::wstring& target) {
  const std::filesystem::path folder = std::filesystem::path(platform::posix::ToNativePath(target)).parent_path();
  return folder.empty() ? std::string(".") : folder.string();
}

// Builds the records of `plan` on `workers` workers and appends them to
// `target` at `start` in the plan's order, then the trailer. Names each
// file left out on `err`, in that order. False when any byte could not be
// written or the carrier would grow too large for a reader.
bool AppendPackage(std::FILE* target, long start, const DiffPlan& plan, const Releases& releases,
                   unsigned workers, const std::wstring& targetPath, Totals& totals, std::ostream& err) {
  OrderedWorkers pool(workers, SpillFolder(targetPath));
  for (const DiffStep& step : plan.steps) {
    const bool submitted = pool.Submit(
        [&releases, &step](JobOutput& output) { return static_cast<int>(BuildRecord(releases, step, output)); },
        [&](JobResult& result) {
          for (Piece piece; result.Next(piece);) {
            if (!packer::WriteToPackage(target, piece.bytes, piece.count)) return false;
          }
          const auto built = static_cast<Built>(result.status());
          if (result.outputLost() || built == Built::kFailed) return false;
          if (built == Built::kLeftOut) {
            const std::wstring& root = step.kind == StepKind::kNewFile ? releases.newRoot : releases.oldRoot;
            err << kProgramName << ": left out, cannot be read: "
                << platform::posix::ToUtf8(platform::DisplayPath(InTree(root, step.path))) << '\n';
          }
          Count(step, built, totals);
          return true;
        });
    if (!submitted) return false;
  }
  if (!pool.Finish()) return false;
  const long end = std::ftell(target);
  if (end < start || static_cast<std::uint64_t>(end) + package::kTrailerSize >= package::kMaxCarrierSize) {
    return false;
  }
  return package::WritePackageTrailer(target, static_cast<std::uint32_t>(end - start)) && std::fflush(target) == 0;
}

}  // namespace

int RunDiff(const std::wstring& oldRoot, const std::wstring& newRoot, const std::wstring& target, unsigned workers,
            std::ostream& out, std::ostream& err) {
  for (const std::wstring* root : {&oldRoot, &newRoot}) {
    if (!platform::IsDirectory(*root)) {
      ReportFailure(err, *root, "not a folder");
      return kExitFailure;
    }
  }
  const TreeListing oldListing = ListTree(oldRoot);
  const TreeListing newListing = ListTree(newRoot);
  const DiffPlan plan = PlanDiff(oldListing.entries, newListing.entries,
                                [&](const std::wstring& oldPath, const std::wstring& newPath) {
                                  return SameFileContent(InTree(oldRoot, oldPath), InTree(newRoot, newPath));
                                });
  if (plan.conflict.kind != DiffConflict::kNone) {
    ReportFailure(err, newRoot, ConflictText(plan.conflict));
    return kExitFailure;
  }
  for (const TreeListing* listing : {&oldListing, &newListing}) {
    for (const std::wstring& entry : listing->leftOut) {
      err << kProgramName << ": left out, " << platform::posix::ToUtf8(entry) << '\n';
    }
  }

  platform::UniqueFile stream(platform::OpenFile(target, "ab"));
  if (!stream) {
    ReportFailure(err, target, "cannot be opened for appending");
    return kExitFailure;
  }
  std::fseek(stream.get(), 0, SEEK_END);
  const long start = std::ftell(stream.get());
  if (start < 0 || static_cast<std::uint64_t>(start) >= package::kMaxCarrierSize) {
    ReportFailure(err, target, "too large to carry a package");
    return kExitFailure;
  }
  const Releases releases{oldRoot, newRoot, platform::IdentityOfStream(stream.get())};
  Totals totals;
  if (!AppendPackage(stream.get(), start, plan, releases, workers, target, totals, err)) {
    // Leave nothing half-written: the target goes back to what it was.
    platform::TruncateFile(stream.get(), static_cast<std::uint64_t>(start));
    ReportFailure(err, target, "the package could not be written whole; the file is as it was");
    return kExitFailure;
  }
  totals.leftOut += oldListing.leftOut.size() + newListing.leftOut.size();
  out << platform::posix::ToUtf8(target) << ": " << totals.newFiles << " new, " << totals.changed << " changed ("
      << totals.deltas << " as deltas), " << totals.removed << " removed, " << totals.folders
      << " folders removed with them; " << totals.leftOut << " left out\n";
  return totals.leftOut == 0 ? kExitSuccess : kExitPatchLacksFiles;
}

}  // namespace publisher
