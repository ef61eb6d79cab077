// The record reader. Extraction is not built yet, so a file record fails.
#include "applier/apply_next_record.h"

#include "package/fields.h"

int ApplyNextRecord(std::FILE* package) {
  package::RecordTag tag;
  if (!package::ReadTag(package, tag)) return 0;
  if (package::TagEquals(tag, package::kEndTag)) {
    std::uint32_t payloadLength;
    package::ReadU32(package, payloadLength);  // located from the trailer already
    return -1;
  }
  return 0;
}
