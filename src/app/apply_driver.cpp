// Apply mode: finds the game, asks the user, and applies every record of
// the package at the end of the program's own file.
#include "app/drivers.h"
#include "app/globals.h"
#include "app/install_location.h"
#include "app/messages.h"
#include "applier/apply_records.h"
#include "package/trailer.h"
#include "platform/platform.h"
#include "platform/unique_file.h"

namespace {

// The carrier: the file that word 0 names, or, when that cannot be opened
// (a program started by a bare name through the search path), the
// program's own file.
platform::UniqueFile OpenCarrier(const std::wstring& programWord) {
  platform::UniqueFile carrier(platform::OpenFile(programWord, "rb"));
  if (!carrier) carrier.reset(platform::OpenFile(platform::OwnExecutablePath(), "rb"));
  return carrier;
}

}  // namespace

int RunApplyMode(const std::wstring& programWord) {
  const std::optional<std::wstring> installDir = FindInstallDir();
  if (!installDir || !ConfirmUpdate()) return 0;
  g_installDir = *installDir;

  platform::UniqueFile carrier = OpenCarrier(programWord);
  if (!carrier) {
    ShowUpdateFailed();
    return 0;
  }
  switch (package::LocatePackage(carrier.get())) {
    case package::LocateResult::kNoPackage:
      return 0;  // a bare program carries nothing to apply
    case package::LocateResult::kDamaged:
    case package::LocateResult::kTooLarge:
      ShowUpdateFailed();
      return 0;
    case package::LocateResult::kFound:
      break;
  }
  applier::UpdateFault fault;
  if (!applier::ApplyRecords(carrier.get(), g_installDir, fault)) {
    // Why, for whoever reads the debugger output (standard error natively):
    // which file is not the release the patch was made from, and how.
    if (fault.kind != applier::FaultKind::kNone) platform::DebugOutput(applier::DescribeUpdateFault(fault) + L"\n");
    ShowUpdateFailed();
    return 0;
  }
  carrier.reset();
  ShowUpdateComplete();
  return 0;
}
