// Reading a whole patch with the reader that apply mode uses: the package
// located from its trailer, then every record in order with its stream
// inflated and measured. The listing and the verifier both walk this way,
// so neither can read the format otherwise than apply mode does.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "package/delta_instructions.h"
#include "package/record_reader.h"
#include "package/trailer.h"
#include "platform/platform.h"

namespace publisher {

// One whole record: a "file" record whose stream inflated with a matching
// Adler-32, a delta record whose instructions all held within the sizes it
// names, or a removal.
struct WalkedRecord {
  long offset = 0;  // of its tag in the patch
  package::RecordKind kind = package::RecordKind::kFile;  // kFile, kDelta or kRemoval
  std::wstring path;  // as stored, with units of value 0 left out
  platform::FileTimes times;  // not for a removal
  std::uint64_t size = 0;            // of the file written; 0 for a removal
  std::uint64_t compressedSize = 0;  // of its zlib stream; 0 for a removal
  package::FileCheck oldFile;        // the file a delta or a removal replaces
};

enum class WalkFault {
  kNone,
  kNoPackage,          // no trailer ends the patch, nor its part before a signature
  kLengthBeforeStart,  // the trailer's payload length reaches before the patch
  kTooLarge,           // the patch is too large for Windows to read its package
  kUnknownTag,         // neither "file" nor "feof" where a record starts
  kEmptyPath,
  kRecordCutShort,     // the patch ends inside a record's path or times
  kStreamDamaged,      // zlib rejects the data or its Adler-32
  kStreamCutShort,     // the patch ends inside a stream
  kBadDelta,           // a delta's instructions are out of bounds or malformed (see WalkEnd)
  kPastTrailer,        // a record runs on into the trailer
  kEarlyTrailer,       // a trailer tag before the trailer: apply mode stops there
  kUnreadable,         // a position in the patch cannot be told
  kStopped,            // the caller's step stopped the walk
};

// How a walk ended.
struct WalkEnd {
  WalkFault fault = WalkFault::kNone;
  long offset = 0;    // where the fault stands: the tag of its record
  std::wstring path;  // the faulty record's path, when its head was read
  package::DeltaResult delta = package::DeltaResult::kComplete;  // for kBadDelta
  package::PackageBounds bounds;  // once the package was located
};

// Locates the package of `patch` and reads its records up to the trailer,
// handing each whole record to `onRecord`; a false answer stops the walk
// with kStopped. Returns kNone when every record was read and the records
// end exactly at the trailer, else the first fault met.
WalkEnd WalkPackage(std::FILE* patch, const std::function<bool(const WalkedRecord&)>& onRecord);

// A record in words for the user: "the record at offset 512 (.\a.txt)",
// without the parenthesis when `path` is empty.
std::string DescribeRecord(long offset, const std::wstring& path);

// The fault in words for the user, e.g. "the record at offset 512
// (.\a.txt): its stream is damaged: the data or its Adler-32 is wrong".
std::string DescribeFault(const WalkEnd& end);

}  // namespace publisher
