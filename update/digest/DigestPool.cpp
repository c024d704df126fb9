#include "update/digest/DigestPool.h"

#include <algorithm>
#include <system_error>

#include "platform/Sha256.h"
#include "update/RunContext.h"
#include "update/chunks/ChunkStream.h"
#include "update/digest/FileDigest.h"

namespace vestrel {
namespace {

constexpr unsigned kMostThreads = 8;

// Touches nothing but the job, so that any thread may run it. A run that is ending stops
// reading a large file part way.
void hash(DigestJob& job, std::stop_token stop) {
  if (!job.cutChunks) {
    job.read = digestFile(job.path, job.digest, job.error, {}, stop);
    return;
  }
  ChunkStream stream([&job](std::uint64_t offset, const unsigned char* data, std::size_t size) {
    job.chunks.push_back({offset, size, platform::sha256Text(data, size)});
  });
  job.read = digestFile(
      job.path, job.digest, job.error,
      [&stream](const char* data, std::size_t size) { stream.add(data, size); }, stop);
  stream.finish();
}

}  // namespace

DigestPool::~DigestPool() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  queued_.notify_all();
  for (std::thread& thread : threads_) {
    thread.join();
  }
}

bool DigestPool::start(unsigned threads, std::stop_token stop) {
  stop_ = std::move(stop);
  for (unsigned i = 0; i < threads; ++i) {
    try {
      threads_.emplace_back(&DigestPool::run, this);
    } catch (const std::system_error&) {
      // The threads already started do the work; with none, the waiting thread does it.
      break;
    }
  }
  return !threads_.empty();
}

void DigestPool::submit(DigestJob& job) {
  {
    const std::lock_guard lock(mutex_);
    job.stage = DigestJob::Stage::Queued;
    queue_.push_back(&job);
  }
  queued_.notify_one();
}

bool DigestPool::done(const DigestJob& job) {
  const std::lock_guard lock(mutex_);
  return job.stage == DigestJob::Stage::Done;
}

void DigestPool::wait(DigestJob& job) {
  std::unique_lock lock(mutex_);
  if (job.stage == DigestJob::Stage::Queued) {
    // Every thread is busy, or none started: rather than wait idle, this thread hashes it.
    queue_.erase(std::find(queue_.begin(), queue_.end(), &job));
    hashUnlocked(lock, job);
    return;
  }
  finished_.wait(lock, [&] { return job.stage == DigestJob::Stage::Done; });
}

void DigestPool::hashUnlocked(std::unique_lock<std::mutex>& lock, DigestJob& job) {
  job.stage = DigestJob::Stage::Hashing;
  lock.unlock();
  hash(job, stop_);
  lock.lock();
  job.stage = DigestJob::Stage::Done;
}

void DigestPool::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    queued_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (stopping_) {
      return;
    }
    DigestJob& job = *queue_.front();
    queue_.pop_front();
    hashUnlocked(lock, job);
    finished_.notify_all();
  }
}

unsigned digestThreads() {
  const unsigned chosen = runContext().digestThreads;
  return chosen != 0 ? chosen : std::clamp(std::thread::hardware_concurrency(), 1u, kMostThreads);
}

}  // namespace vestrel
