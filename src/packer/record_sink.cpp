// What the record writers share: the account of files left out.
#include "packer/record_sink.h"

#include "packer/debug_trace.h"

namespace packer {
namespace {

const wchar_t* ReasonText(LeftOutBecause why) {
  switch (why) {
    case LeftOutBecause::kCannotBeRead:
      return L"cannot be read";
    case LeftOutBecause::kTimesUnreadable:
      return L"its times cannot be read";
    case LeftOutBecause::kOutsideTheRoot:
      return L"not below the source folder";
    case LeftOutBecause::kIsThePackage:
      return L"the package is being written to it";
    case LeftOutBecause::kNothing:
      break;
  }
  return L"";
}

}  // namespace

void RecordSink::NoteLeftOut(const std::wstring& sourcePath, LeftOutBecause why) {
  DebugTrace(L"left out, %ls: %ls\n", ReasonText(why), platform::DisplayPath(sourcePath).c_str());
  if (why != LeftOutBecause::kIsThePackage) ++filesLeftOut_;
}

}  // namespace packer
