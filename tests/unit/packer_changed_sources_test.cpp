// Source files that change after the walk has listed them and before the
// record writer reads them. The walk keeps nothing of a listed file but its
// name, so the package holds each file as it is when read, or leaves it out
// when it is no longer a file, and stays whole either way.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <map>
#include <streambuf>

#include "packer_test_fixture.h"

namespace {

// Stands in for standard error and runs an action when a given line passes
// through it. The walk traces a file right after listing it and right
// before the record writer opens it, so where the debugger output is
// standard error (POSIX) a trace line marks exactly that moment.
class TraceLineActions : public std::streambuf {
 public:
  TraceLineActions() : previous_(std::cerr.rdbuf(this)) {}
  ~TraceLineActions() override { std::cerr.rdbuf(previous_); }
  TraceLineActions(const TraceLineActions&) = delete;
  TraceLineActions& operator=(const TraceLineActions&) = delete;

  void On(const std::string& line, std::function<void()> action) { actions_[line] = std::move(action); }
  std::size_t fired() const { return fired_; }

 protected:
  int overflow(int c) override {
    if (c != traits_type::eof()) Take(std::string(1, static_cast<char>(c)));
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    Take(std::string(text, static_cast<std::size_t>(count)));
    return count;
  }

 private:
  void Take(const std::string& text) {
    pending_ += text;
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos; pending_.erase(0, end + 1)) {
      const auto action = actions_.find(pending_.substr(0, end + 1));
      if (action == actions_.end()) continue;
      ++fired_;
      action->second();
    }
  }

  std::streambuf* previous_;
  std::map<std::string, std::function<void()>> actions_;
  std::string pending_;
  std::size_t fired_ = 0;
};

bool DebugOutputIsStandardError() {
  TraceLineActions probe;
  probe.On("probe\n", [] {});
  platform::DebugOutput(L"probe\n");
  return probe.fired() == 1;
}

using ChangedSourcesTest = PackerTest;

TEST_F(ChangedSourcesTest, FileChangedBetweenListingAndReadIsPackedAsRead) {
  if (!DebugOutputIsStandardError()) GTEST_SKIP() << "the debugger output cannot be hooked on this platform";
  namespace fs = std::filesystem;
  const Bytes content = MixedContent(5000);
  struct Change {
    const wchar_t* name;
    std::function<void(const fs::path&)> change;
    bool packed;
    Bytes packedContent;  // when packed
  };
  const Change changes[] = {
      {L"removed", [](const fs::path& file) { fs::remove(file); }, false, {}},
      {L"replaced-by-a-directory",
       [](const fs::path& file) {
         fs::remove(file);
         fs::create_directory(file);
       },
       false,
       {}},
      {L"cut-to-ten-bytes", [](const fs::path& file) { fs::resize_file(file, 10); }, true,
       Bytes(content.begin(), content.begin() + 10)},
      {L"emptied", [](const fs::path& file) { fs::resize_file(file, 0); }, true, {}},
  };
  MakeFile(L"unchanged", content);
  std::map<std::wstring, Bytes> expected = {{L".\\unchanged", content}};
  TraceLineActions actions;
  for (const Change& c : changes) {
    MakeFile(c.name, content);
    const fs::path file = base_ / "src" / c.name;
    actions.On(AsTraced(SourcePath(c.name)) + "\n", [&c, file] { c.change(file); });
    if (c.packed) expected[std::wstring(L".\\") + c.name] = c.packedContent;
  }

  const std::vector<PackedRecord> records = PackTree();
  EXPECT_EQ(actions.fired(), std::size(changes));
  std::map<std::wstring, Bytes> packed;
  for (const PackedRecord& record : records) packed[record.path] = record.content;
  EXPECT_EQ(packed, expected);
}

}  // namespace
