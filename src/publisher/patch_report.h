// What the listing and the verifier share: opening the patch a publisher
// names, and reporting why an operation on it failed.
#pragma once

#include <ostream>
#include <string>

#include "platform/unique_file.h"

namespace publisher {

// The name the program's messages begin with, as it is installed.
constexpr const char* kProgramName = "quorvane-update";

// Writes "quorvane-update: PATCH: reason" as one line to `err`.
void ReportFailure(std::ostream& err, const std::wstring& patchPath, const std::string& reason);

// Opens the patch for reading; on failure reports why on `err` and gives
// back no stream.
platform::UniqueFile OpenPatch(const std::wstring& patchPath, std::ostream& err);

}  // namespace publisher
