// The --diff driver: lists both releases, plans the patch, builds each
// record and appends them in the plan's order, then the trailer.
#include "publisher/diff_driver.h"

#include <cstdint>
#include <vector>

#include "app/globals.h"
#include "package/layout.h"
#include "package/trailer.h"
#include "packer/package_output.h"
#include "packer/write_file_record.h"
#include "platform/platform.h"
#include "platform/posix/native_path.h"
#include "platform/unique_file.h"
#include "publisher/delta_record.h"
#include "publisher/diff_plan.h"
#include "publisher/patch_report.h"
#include "publisher/path_text.h"
#include "publisher/publisher_options.h"
#include "publisher/same_file_content.h"

namespace publisher {
namespace {

// What building one step's record gave.
enum class Built {
  kWholeFile,  // a "file" record
  kDelta,      // a delta record
  kRemoval,    // a removal record
  kNothing,    // a folder: the applier removes it with the last removal in it
  kLeftOut,    // the file could not be read; nothing was built
  kFailed,     // the record could not be built whole
};

struct BuiltRecord {
  Built built = Built::kNothing;
  std::vector<unsigned char> bytes;
};

// The folder root joined with a package path; both were joined once by the
// listing, so the join fits.
std::wstring InTree(const std::wstring& root, const std::wstring& packagePath) {
  std::wstring path = root;
  platform::JoinPath(path, packagePath);
  return path;
}

// A "file" record of the new release's file, by pack mode's record writer,
// through a temporary file that is then read back.
Built BuildWholeFileRecord(const std::wstring& newPath, std::vector<unsigned char>& bytes) {
  const platform::UniqueFile spill(std::tmpfile());
  if (!spill) return Built::kFailed;
  const packer::RecordResult result = packer::WriteFileRecord(spill.get(), newPath);
  if (result != packer::RecordResult::kWritten) {
    return result == packer::RecordResult::kSkipped ? Built::kLeftOut : Built::kFailed;
  }
  const long size = std::ftell(spill.get());
  if (size < 0 || std::fseek(spill.get(), 0, SEEK_SET) != 0) return Built::kFailed;
  bytes.resize(static_cast<std::size_t>(size));
  return std::fread(bytes.data(), 1, bytes.size(), spill.get()) == bytes.size() ? Built::kWholeFile
                                                                                : Built::kFailed;
}

// Builds the record of one step of the plan.
BuiltRecord BuildRecord(const DiffStep& step, const std::wstring& oldRoot, const std::wstring& newRoot) {
  BuiltRecord record;
  const std::wstring oldPath = InTree(oldRoot, step.oldPath);
  const std::wstring newPath = InTree(newRoot, step.path);
  switch (step.kind) {
    case StepKind::kNewFile:
      record.built = BuildWholeFileRecord(newPath, record.bytes);
      break;
    case StepKind::kChangedFile: {
      ChangedFileEncoding encoding = ChangedFileEncoding::kWholeFile;
      if (EncodeChangedFileRecord(oldPath, newPath, step.path, record.bytes, &encoding)) {
        record.built = encoding == ChangedFileEncoding::kDelta ? Built::kDelta : Built::kWholeFile;
      } else {
        // An old file that cannot be read is no base for a delta; the new
        // one replaces it whole.
        record.built = BuildWholeFileRecord(newPath, record.bytes);
      }
      break;
    }
    case StepKind::kRemovedFile:
      record.built = EncodeRemovalRecord(oldPath, step.path, record.bytes) ? Built::kRemoval : Built::kLeftOut;
      break;
    case StepKind::kRemovedFolder:
      record.built = Built::kNothing;
      break;
  }
  if (record.built == Built::kLeftOut || record.built == Built::kFailed) record.bytes.clear();
  return record;
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

// Appends the records of `plan` and the trailer to `target` at `start`.
// False when any byte could not be written or the carrier would grow too
// large for a reader.
bool AppendPackage(std::FILE* target, long start, const DiffPlan& plan, const std::wstring& oldRoot,
                   const std::wstring& newRoot, Totals& totals, std::ostream& err) {
  for (const DiffStep& step : plan.steps) {
    const BuiltRecord record = BuildRecord(step, oldRoot, newRoot);
    if (record.built == Built::kFailed) return false;
    if (record.built == Built::kLeftOut) {
      err << kProgramName << ": left out, cannot be read: "
          << platform::posix::ToUtf8(platform::DisplayPath(
                 InTree(step.kind == StepKind::kRemovedFile ? oldRoot : newRoot, step.path)))
          << '\n';
    }
    if (!record.bytes.empty() && !packer::WriteToPackage(target, record.bytes.data(), record.bytes.size())) {
      return false;
    }
    Count(step, record.built, totals);
  }
  const long end = std::ftell(target);
  if (end < start || static_cast<std::uint64_t>(end) + package::kTrailerSize >= package::kMaxCarrierSize) {
    return false;
  }
  return package::WritePackageTrailer(target, static_cast<std::uint32_t>(end - start)) && std::fflush(target) == 0;
}

}  // namespace

int RunDiff(const std::wstring& oldRoot, const std::wstring& newRoot, const std::wstring& target,
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
  // The record writer makes the new files' package paths relative to this.
  g_sourceRoot = newRoot;
  Totals totals;
  const bool written = AppendPackage(stream.get(), start, plan, oldRoot, newRoot, totals, err);
  g_sourceRoot.clear();
  if (!written) {
    // Leave nothing half-written: the target goes back to what it was.
    platform::TruncateFile(stream.get(), static_cast<std::uint32_t>(start));
    ReportFailure(err, target, "the package could not be written whole; the file is as it was");
    return kExitFailure;
  }
  totals.leftOut += oldListing.leftOut.size() + newListing.leftOut.size();
  out << platform::posix::ToUtf8(target) << ": " << totals.newFiles << " new, " << totals.changed << " changed ("
      << totals.deltas << " as deltas), " << totals.removed << " removed, " << totals.folders
      << " folders removed with them; " << totals.leftOut << " left out\n";
  return totals.leftOut == 0 ? kExitSuccess : kExitFilesLeftOut;
}

}  // namespace publisher
