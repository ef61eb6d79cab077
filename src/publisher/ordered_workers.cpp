// The worker threads, the ordered delivery and the spill files of
// OrderedWorkers.
//
// Output waits in memory, a bounded share per job. The job being delivered
// hands its output straight on as it is made: its delivery reads each block
// as soon as it is passed on, and the job waits for it when it gets ahead.
// A later job whose share is full cannot wait, since its turn may be long
// coming, and writes the rest to a temporary file; so the memory stays
// bounded whatever the files' sizes and every core keeps working, and a big
// job pays the file's round trip only when another big job is ahead of it.
#include "publisher/ordered_workers.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace publisher {

// One job from Submit to the end of its delivery. The fields below the
// work are guarded by OrderedWorkers::mutex_, except spill, which belongs
// to the worker until `done` and to the delivery after.
struct Job {
  OrderedWorkers::Work work;
  OrderedWorkers::Deliver deliver;
  std::deque<std::vector<unsigned char>> held;  // blocks passed on, oldest first
  std::size_t heldBytes = 0;
  bool spilling = false;  // every later block goes to the spill file
  bool lost = false;      // some output could not be kept
  bool done = false;
  int status = 0;
  int spill = -1;  // the spill file's descriptor
  std::uint64_t spilled = 0;
  ~Job() {
    if (spill >= 0) close(spill);
  }
};

namespace {

// An unnamed file in `folder`: nothing is left behind even by a crash.
// Where the file system has no unnamed files, a named one removed at once.
int OpenSpillFile(const std::string& folder) {
  const int file = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (file >= 0) return file;
  std::string name = folder + "/.quorvane-spill-XXXXXX";
  const int named = mkostemp(name.data(), O_CLOEXEC);
  if (named >= 0) unlink(name.c_str());
  return named;
}

std::string TemporaryFolder() {
  const char* folder = std::getenv("TMPDIR");
  return folder != nullptr && *folder != '\0' ? folder : "/tmp";
}

bool WriteAll(int file, const unsigned char* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t written = write(file, bytes, count);
    if (written <= 0) return false;
    bytes += written;
    count -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

unsigned DefaultWorkerCount() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : cores;
}

bool JobOutput::Write(const void* bytes, std::size_t count) {
  const auto* from = static_cast<const unsigned char*>(bytes);
  while (count > 0) {
    if (block_.capacity() < kOutputBlockSize) block_.reserve(kOutputBlockSize);
    const std::size_t take = std::min(count, kOutputBlockSize - block_.size());
    block_.insert(block_.end(), from, from + take);
    from += take;
    count -= take;
    if (block_.size() == kOutputBlockSize && !PassOn()) return false;
  }
  return true;
}

bool JobOutput::PassOn() { return workers_.PassOn(job_, block_); }

bool JobResult::Next(Piece& piece) {
  std::vector<unsigned char> block;
  {
    std::unique_lock<std::mutex> lock(workers_.mutex_);
    workers_.jobChanged_.wait(lock, [&] { return !job_.held.empty() || job_.done; });
    if (!job_.held.empty()) {
      block = std::move(job_.held.front());
      job_.held.pop_front();
      job_.heldBytes -= block.size();
      workers_.jobChanged_.notify_all();  // room for a job waiting on its share
    }
  }
  if (!block.empty()) {
    piece_ = std::move(block);
  } else {
    // Done, and all that was held has been read: what follows is spilled.
    if (job_.lost) outputLost_ = true;
    if (job_.lost || spillRead_ == job_.spilled) return false;
    piece_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kOutputBlockSize, job_.spilled - spillRead_)));
    const ssize_t read = pread(job_.spill, piece_.data(), piece_.size(), static_cast<off_t>(spillRead_));
    if (read <= 0) {
      outputLost_ = true;
      return false;
    }
    piece_.resize(static_cast<std::size_t>(read));
    spillRead_ += piece_.size();
  }
  piece.bytes = piece_.data();
  piece.count = piece_.size();
  return true;
}

int JobResult::status() const { return job_.status; }

OrderedWorkers::OrderedWorkers(unsigned workers, std::string spillFolder)
    : jobsAhead_(kJobsAheadPerWorker * (workers == 0 ? 1 : workers)), spillFolder_(std::move(spillFolder)) {
  for (unsigned i = 0; i < (workers == 0 ? 1 : workers); ++i) threads_.emplace_back([this] { RunWorker(); });
}

OrderedWorkers::~OrderedWorkers() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  workAdded_.notify_all();
  jobChanged_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

bool OrderedWorkers::Submit(Work work, Deliver deliver) {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (failed_) return false;
      if (jobs_.size() < jobsAhead_) {
        auto job = std::make_unique<Job>();
        job->work = std::move(work);
        job->deliver = std::move(deliver);
        jobs_.push_back(std::move(job));
        break;
      }
    }
    if (!DeliverOldest()) return false;
  }
  workAdded_.notify_one();
  return true;
}

bool OrderedWorkers::Finish() {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (failed_) return false;
      if (jobs_.empty()) return true;
    }
    if (!DeliverOldest()) return false;
  }
}

bool OrderedWorkers::DeliverOldest() {
  Job* job;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job = jobs_.front().get();
  }
  JobResult result(*this, *job);
  bool delivered = job->deliver(result);
  // The delivery may stop reading early; the job must still end before it
  // is released, and then its whole output counts as read.
  Piece rest;
  while (result.Next(rest)) {
  }
  delivered = delivered && !result.outputLost();
  std::lock_guard<std::mutex> lock(mutex_);
  jobs_.pop_front();
  --started_;
  if (!delivered) {
    // Stop: later jobs are dropped with their output, and none is started.
    failed_ = true;
    stopping_ = true;
    workAdded_.notify_all();
    jobChanged_.notify_all();
  }
  return delivered;
}

void OrderedWorkers::RunWorker() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    workAdded_.wait(lock, [this] { return stopping_ || started_ < jobs_.size(); });
    if (stopping_) return;
    Job& job = *jobs_[started_++];
    lock.unlock();
    JobOutput output(*this, job);
    const int status = job.work(output);
    if (!output.block_.empty()) PassOn(job, output.block_);
    lock.lock();
    job.status = status;
    job.done = true;
    jobChanged_.notify_all();
  }
}

bool OrderedWorkers::PassOn(Job& job, std::vector<unsigned char>& block) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (stopping_) {
        job.lost = true;
        return false;
      }
      if (job.spilling) break;
      if (job.heldBytes + block.size() <= kHeldOutputPerJob) {
        job.heldBytes += block.size();
        job.held.push_back(std::move(block));
        block = std::vector<unsigned char>();
        jobChanged_.notify_all();
        return true;
      }
      // Only the job being delivered may wait: its delivery is reading.
      if (jobs_.front().get() != &job) {
        job.spilling = true;
        break;
      }
      jobChanged_.wait(lock);
    }
  }
  // The spill file is the worker's own until the job is done.
  const bool kept = Spill(job, block);
  block.clear();
  if (!kept) {
    std::lock_guard<std::mutex> lock(mutex_);
    job.lost = true;
  }
  return kept;
}

bool OrderedWorkers::Spill(Job& job, const std::vector<unsigned char>& block) {
  if (job.spill < 0) job.spill = OpenSpillFile(spillFolder_);
  // A folder where no file can be made (read-only, say): the system's
  // temporary folder serves, though perhaps on a smaller disk.
  if (job.spill < 0) job.spill = OpenSpillFile(TemporaryFolder());
  if (job.spill < 0 || !WriteAll(job.spill, block.data(), block.size())) return false;
  job.spilled += block.size();
  return true;
}

}  // namespace publisher
