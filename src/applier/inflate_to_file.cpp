// Extracting one record's stream into a partial file beside its destination.
#include "applier/inflate_to_file.h"

#include "applier/partial_file.h"
#include "package/record_reader.h"

namespace applier {
namespace {

// Writes the inflated chunks into the partial file.
class FileSink final : public package::InflateSink {
 public:
  explicit FileSink(std::FILE* output) : output_(output) {}
  bool Write(const unsigned char* bytes, std::size_t count) override {
    return std::fwrite(bytes, 1, count, output_) == count;
  }

 private:
  std::FILE* output_;
};

}  // namespace

int InflateToFile(std::FILE* package, const std::wstring& outputPath) {
  PartialFile partial;
  if (!partial.Create(outputPath)) return 0;
  FileSink sink(partial.stream());
  if (package::InflateRecordStream(package, sink) != package::InflateResult::kComplete) return 0;
  return partial.ReplaceDestination() ? 1 : 0;
}

}  // namespace applier
