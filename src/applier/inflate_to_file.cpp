// Extracting one record's stream into an open file.
#include "applier/inflate_to_file.h"

#include "package/record_reader.h"

namespace applier {
namespace {

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

int InflateToFile(std::FILE* package, std::FILE* output) {
  FileSink sink(output);
  return package::InflateRecordStream(package, sink) == package::InflateResult::kComplete ? 1 : 0;
}

}  // namespace applier
