// Delta and removal records for tests, written field by field.
#include "delta_test_records.h"

#include <zlib.h>

namespace delta_test {
namespace {

void AppendLittleEndian(Bytes& out, std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void AppendHead(Bytes& out, const char* tag, const std::wstring& path) {
  out.insert(out.end(), tag, tag + 4);
  AppendLittleEndian(out, path.size(), 2);
  for (const wchar_t unit : path) AppendLittleEndian(out, static_cast<std::uint16_t>(unit), 2);
}

void AppendCheck(Bytes& out, const package::FileCheck& check) {
  AppendLittleEndian(out, check.size, 8);
  AppendLittleEndian(out, check.crc, 4);
}

void AppendCount(Bytes& out, std::uint64_t value) {
  for (; value >= 0x80; value >>= 7) out.push_back(static_cast<unsigned char>(value | 0x80));
  out.push_back(static_cast<unsigned char>(value));
}

}  // namespace

Bytes AsOneRun(const Bytes& differences) {
  Bytes runs;
  if (differences.empty()) return runs;
  AppendCount(runs, 0);
  AppendCount(runs, differences.size());
  runs.insert(runs.end(), differences.begin(), differences.end());
  return runs;
}

Instructions InstructionsOf(std::initializer_list<Triple> triples) {
  Instructions out;
  for (const Triple& triple : triples) {
    AppendLittleEndian(out.control, triple.copy, 8);
    AppendLittleEndian(out.control, triple.insert, 8);
    AppendLittleEndian(out.control, static_cast<std::uint64_t>(triple.seek), 8);
    if (triple.copy < 1 << 20) out.differences.insert(out.differences.end(), triple.copy, 1);
    if (triple.insert < 1 << 20) out.insertions.insert(out.insertions.end(), triple.insert, 'i');
  }
  return out;
}

Bytes DeltaRecord(const std::wstring& path, const package::FileCheck& oldFile, const package::FileCheck& newFile,
                  const Instructions& instructions) {
  Bytes out;
  AppendHead(out, "dlta", path);
  out.insert(out.end(), 3 * 8, 0);  // the three times
  AppendCheck(out, oldFile);
  AppendCheck(out, newFile);
  const Bytes streams[] = {CompressAtLevel6(instructions.control), CompressAtLevel6(instructions.runs ? *instructions.runs : AsOneRun(instructions.differences)),
                           CompressAtLevel6(instructions.insertions)};
  for (const Bytes& stream : streams) AppendLittleEndian(out, stream.size(), 4);
  for (const Bytes& stream : streams) out.insert(out.end(), stream.begin(), stream.end());
  return out;
}

Bytes RemovalRecord(const std::wstring& path, const package::FileCheck& oldFile) {
  Bytes out;
  AppendHead(out, "remv", path);
  AppendCheck(out, oldFile);
  return out;
}

std::uint32_t CrcOf(const Bytes& bytes) {
  return static_cast<std::uint32_t>(crc32(crc32(0, Z_NULL, 0), bytes.data(), static_cast<uInt>(bytes.size())));
}

platform::UniqueFile StreamOf(const Bytes& bytes) {
  platform::UniqueFile stream(std::tmpfile());
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), stream.get());
  std::rewind(stream.get());
  return stream;
}

Bytes Contents(std::FILE* stream) {
  std::rewind(stream);
  Bytes bytes;
  int c;
  while ((c = std::fgetc(stream)) != EOF) bytes.push_back(static_cast<unsigned char>(c));
  return bytes;
}

}  // namespace delta_test
