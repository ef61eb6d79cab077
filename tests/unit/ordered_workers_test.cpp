// Jobs on several workers: their output reaches the deliveries in the order
// the jobs were given, byte for byte, however the work interleaves, whether
// it waits in memory or in a spill file; a failed delivery stops the rest.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include "publisher/ordered_workers.h"
#include "test_files.h"

namespace {

// Item i's output: `size` bytes that tell items and positions apart.
Bytes ItemOutput(std::size_t item, std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>((item * 131 + i * 7 + i / 251) & 0xFF);
  return bytes;
}

struct RunOutcome {
  bool finished = false;
  std::vector<Bytes> delivered;     // per delivery, in delivery order
  std::vector<int> statuses;
};

// A job's sleep before it writes: the first job's `first` milliseconds,
// then a few for the others, longer for earlier ones, so that later jobs
// often finish first.
int DelayOf(std::size_t item, std::size_t count, int first) {
  return item == 0 ? first : static_cast<int>((count - item) % 4) * 3;
}

// Runs one job per size on `workers` workers. Each job sleeps (DelayOf),
// then writes its output in uneven pieces, pausing `midPause` ms half-way,
// and returns its index.
RunOutcome RunJobs(unsigned workers, const std::vector<std::size_t>& sizes, const std::string& spillFolder,
                   int firstDelay, int midPause = 0) {
  RunOutcome outcome;
  publisher::OrderedWorkers pool(workers, spillFolder);
  for (std::size_t item = 0; item < sizes.size(); ++item) {
    const std::size_t size = sizes[item];
    const int delay = DelayOf(item, sizes.size(), firstDelay);
    const bool submitted = pool.Submit(
        [item, size, delay, midPause](publisher::JobOutput& output) {
          std::this_thread::sleep_for(std::chrono::milliseconds(delay));
          const Bytes bytes = ItemOutput(item, size);
          bool paused = false;
          for (std::size_t at = 0, piece = 1; at < bytes.size(); at += piece, piece = piece * 3 + 1) {
            if (!paused && at >= bytes.size() / 2) {
              std::this_thread::sleep_for(std::chrono::milliseconds(midPause));
              paused = true;
            }
            if (!output.Write(bytes.data() + at, std::min(piece, bytes.size() - at))) return -1;
          }
          return static_cast<int>(item);
        },
        [&outcome](publisher::JobResult& result) {
          Bytes bytes;
          for (publisher::Piece piece; result.Next(piece);) bytes.insert(bytes.end(), piece.bytes, piece.bytes + piece.count);
          outcome.delivered.push_back(bytes);
          outcome.statuses.push_back(result.status());
          return true;
        });
    if (!submitted) return outcome;
  }
  outcome.finished = pool.Finish();
  return outcome;
}

class OrderedWorkersTest : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() / ("quorvane-workers-" + std::to_string(std::random_device()()));
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::filesystem::path folder_;
};

TEST_F(OrderedWorkersTest, OutputComesInSubmissionOrderByteForByte) {
  constexpr std::size_t kBlock = publisher::kOutputBlockSize;
  constexpr std::size_t kShare = publisher::kHeldOutputPerJob;
  struct Case {
    const char* name;
    std::vector<std::size_t> sizes;
    int firstDelay;    // ms
    int midPause = 0;  // ms
  };
  const Case cases[] = {
      {"no jobs", {}, 0},
      {"many small and empty outputs", std::vector<std::size_t>{0, 1, 5, 0, 300, kBlock - 1, kBlock, kBlock + 1, 7, 0, 2, 9,
                                                              13, 4000, 1, 1, 0, 33},
       12},
      // Later jobs' outputs outgrow their share while the first job still
      // sleeps: the rest goes to spill files.
      {"outputs beyond the memory share", {3 * kShare + 5, 2 * kShare + kBlock, 5, 3 * kShare, 1}, 200},
      // The second job spills, pauses until the first has been delivered,
      // and goes on writing as the job being delivered: what it writes then
      // must still follow what it spilled.
      {"a spilling job whose turn comes while it writes", {5, 4 * kShare, 1}, 100, 400},
  };
  for (const Case& c : cases) {
    for (const unsigned workers : {1u, 2u, 8u}) {
      SCOPED_TRACE(testing::Message() << c.name << ", " << workers << " workers");
      const RunOutcome outcome = RunJobs(workers, c.sizes, folder_.string(), c.firstDelay, c.midPause);
      EXPECT_TRUE(outcome.finished);
      ASSERT_EQ(outcome.delivered.size(), c.sizes.size());
      for (std::size_t item = 0; item < c.sizes.size(); ++item) {
        EXPECT_EQ(outcome.statuses[item], static_cast<int>(item));
        EXPECT_TRUE(outcome.delivered[item] == ItemOutput(item, c.sizes[item])) << "item " << item;
      }
    }
  }
  // Spill files have no name: the folder stays empty.
  EXPECT_TRUE(std::filesystem::is_empty(folder_));
}

// A spill folder where no file can be made gives way to the system's
// temporary folder; without either, an output too big to wait in memory is
// lost, and that delivery fails rather than giving part of it. The first
// job sleeps, so the second must spill.
TEST_F(OrderedWorkersTest, SpillGoesToTheTemporaryFolderOrFailsItsDelivery) {
  const std::size_t big = 3 * publisher::kHeldOutputPerJob;
  const char* previous = std::getenv("TMPDIR");
  const std::string saved = previous != nullptr ? previous : "";
  struct Case {
    const char* name;
    std::string temporaryFolder;
    bool whole;
  };
  const Case cases[] = {
      {"temporary folder serves", folder_.string(), true},
      {"no folder at all", (folder_ / "missing-too").string(), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    setenv("TMPDIR", c.temporaryFolder.c_str(), 1);
    const RunOutcome outcome = RunJobs(2, {big, big, 1}, (folder_ / "missing").string(), 300);
    EXPECT_EQ(outcome.finished, c.whole);
    ASSERT_GE(outcome.delivered.size(), 2u);
    EXPECT_TRUE(outcome.delivered[0] == ItemOutput(0, big));
    EXPECT_EQ(outcome.delivered[1] == ItemOutput(1, big), c.whole);
    EXPECT_EQ(outcome.delivered.size(), c.whole ? 3u : 2u);
  }
  if (previous != nullptr) {
    setenv("TMPDIR", saved.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

TEST_F(OrderedWorkersTest, FailedDeliveryStopsEveryLaterJob) {
  publisher::OrderedWorkers pool(2, folder_.string());
  std::vector<int> delivered;
  bool submitRefused = false;
  for (int item = 0; item < 100 && !submitRefused; ++item) {
    submitRefused = !pool.Submit([item](publisher::JobOutput& output) { return output.Write("x", 1) ? item : -1; },
                                 [item, &delivered](publisher::JobResult&) {
                                   delivered.push_back(item);
                                   return item != 3;
                                 });
  }
  EXPECT_TRUE(submitRefused);
  EXPECT_FALSE(pool.Finish());
  EXPECT_EQ(delivered, (std::vector<int>{0, 1, 2, 3}));
}

}  // namespace
