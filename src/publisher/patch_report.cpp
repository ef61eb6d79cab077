// Opening a patch and the failure line of the publisher's tool.
#include "publisher/patch_report.h"

#include <cerrno>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/native_path.h"

namespace publisher {

void ReportFailure(std::ostream& err, const std::wstring& patchPath, const std::string& reason) {
  err << kProgramName << ": " << platform::posix::ToUtf8(patchPath) << ": " << reason << '\n';
}

platform::UniqueFile OpenPatch(const std::wstring& patchPath, std::ostream& err) {
  errno = 0;
  platform::UniqueFile patch(platform::OpenFile(patchPath, "rb"));
  if (!patch) ReportFailure(err, patchPath, std::string("cannot be opened: ") + std::strerror(errno));
  return patch;
}

}  // namespace publisher
