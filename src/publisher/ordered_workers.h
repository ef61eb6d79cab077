// Jobs run side by side on a few worker threads, their output consumed one
// job after the other in the order the jobs were given, in bounded memory.
// The native program alone has threads: the Windows program runs one.
//
// Use: construct OrderedWorkers with the number of workers and a folder for
// spill files, Submit a (work, deliver) pair per item in the order the
// output must come, then Finish. `work` runs on a worker and writes its
// bytes to a JobOutput; `deliver` runs on the submitting thread, item after
// item, and reads that output through a JobResult while the work may still
// be running:
//
//   publisher::OrderedWorkers workers(publisher::DefaultWorkerCount(), folder);
//   for (const Item& item : items) {
//     workers.Submit([item](publisher::JobOutput& out) { return Compute(item, out); },
//                    [&](publisher::JobResult& result) {
//                      for (publisher::Piece piece; result.Next(piece);) Write(piece);
//                      return result.status() == kDone;
//                    });
//   }
//   const bool whole = workers.Finish();
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace publisher {

// How much one job's output may hold in memory while it waits for its turn:
// beyond it the rest goes to a temporary file. Each worker adds a block of
// kOutputBlockSize being filled and what its work itself needs.
constexpr std::size_t kHeldOutputPerJob = 1 << 20;
constexpr std::size_t kOutputBlockSize = std::size_t{64} * 1024;
// Jobs given out at most per worker before the oldest has been delivered.
constexpr std::size_t kJobsAheadPerWorker = 4;

// One worker per core, at least one.
unsigned DefaultWorkerCount();

class OrderedWorkers;
struct Job;

// What one job writes. Used only by the job's own worker, while it runs.
class JobOutput {
 public:
  // Appends bytes to the job's output. False when they could not be kept
  // (a spill file that cannot be written) or the workers are stopping
  // because a delivery failed; the work should then give up.
  bool Write(const void* bytes, std::size_t count);

 private:
  friend class OrderedWorkers;
  JobOutput(OrderedWorkers& workers, Job& job) : workers_(workers), job_(job) {}
  // Hands the block being filled over for delivery.
  bool PassOn();

  OrderedWorkers& workers_;
  Job& job_;
  std::vector<unsigned char> block_;
};

// A run of bytes of a job's output.
struct Piece {
  const unsigned char* bytes = nullptr;
  std::size_t count = 0;
};

// The output of the job being delivered, read on the submitting thread.
class JobResult {
 public:
  // Gives the next piece of the output, waiting for the work as needed; the
  // piece stays valid until the next call. False at the end of the output,
  // once the work has returned, or when some of the output was lost: a
  // spill file that could not be written or read back (outputLost() then
  // says so, and the delivery counts as failed whatever it returns).
  bool Next(Piece& piece);
  // What the work returned; valid once Next has given false.
  int status() const;
  bool outputLost() const { return outputLost_; }

 private:
  friend class OrderedWorkers;
  JobResult(OrderedWorkers& workers, Job& job) : workers_(workers), job_(job) {}

  OrderedWorkers& workers_;
  Job& job_;
  std::vector<unsigned char> piece_;
  std::uint64_t spillRead_ = 0;
  bool outputLost_ = false;
};

class OrderedWorkers {
 public:
  // Work on a worker: writes its output and returns a status of its own
  // choosing, which the delivery reads.
  using Work = std::function<int(JobOutput& output)>;
  // Delivery on the submitting thread; false stops everything: no later
  // job is delivered, and Submit and Finish give false.
  using Deliver = std::function<bool(JobResult& result)>;

  // Starts `workers` threads (at least one). A job whose waiting output
  // outgrows kHeldOutputPerJob writes the rest to an unnamed temporary
  // file in `spillFolder` (a native path), or in the system's temporary
  // folder when no file can be made there.
  OrderedWorkers(unsigned workers, std::string spillFolder);
  // Stops the workers: jobs not yet started are dropped, running ones are
  // told to stop (JobOutput::Write gives false) and waited for.
  ~OrderedWorkers();
  OrderedWorkers(const OrderedWorkers&) = delete;
  OrderedWorkers& operator=(const OrderedWorkers&) = delete;

  // Queues one job. When kJobsAheadPerWorker jobs per worker are waiting
  // for delivery already, delivers the oldest first, on this thread. False,
  // with the job not queued, once a delivery has failed.
  bool Submit(Work work, Deliver deliver);

  // Delivers every job still waiting, in order. True when every delivery
  // succeeded.
  bool Finish();

 private:
  friend class JobOutput;
  friend class JobResult;

  // Runs jobs until the workers stop.
  void RunWorker();
  // Waits for the oldest job and delivers it; false when its delivery failed.
  bool DeliverOldest();
  // Called by a job's output with a full block: kept in memory, waited on
  // (the job being delivered, once it holds its share), or spilled.
  bool PassOn(Job& job, std::vector<unsigned char>& block);
  bool Spill(Job& job, const std::vector<unsigned char>& block);

  const std::size_t jobsAhead_;
  const std::string spillFolder_;
  std::mutex mutex_;
  std::condition_variable workAdded_;   // a job to start, or stopping
  std::condition_variable jobChanged_;  // output passed on, a job done, or room freed
  std::deque<std::unique_ptr<Job>> jobs_;  // given, not yet delivered; oldest first
  std::size_t started_ = 0;                // how many of jobs_ a worker has taken
  bool stopping_ = false;
  bool failed_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace publisher
