// Threads that hash files with digestFile while the verification walk goes on: the walk queues
// each listed file and takes the results in its own order. Only digestFile runs on the pool's
// threads; what a result means is for the thread that queued it.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "update/chunks/ChunkIndex.h"

namespace vestrel {

// One file to hash and, once hashed, what digestFile gave for it.
struct DigestJob {
  std::string path;
  std::string digest;
  std::string error;
  bool read = false;
  // Cut into chunks too, as it is read (update/chunks/ChunkStream.h): an old version of a file
  // served as chunks holds the chunks its update may keep.
  bool cutChunks = false;
  std::vector<ChunkRef> chunks;
  // Where the job is; the pool's, read and written under its lock.
  enum class Stage { Queued, Hashing, Done } stage = Stage::Queued;
};

class DigestPool {
 public:
  DigestPool() = default;
  DigestPool(const DigestPool&) = delete;
  DigestPool& operator=(const DigestPool&) = delete;
  // Lets the threads finish the file each is hashing and joins them; queued jobs are dropped.
  ~DigestPool();

  // Starts up to `threads` threads. False when none could start: wait() then hashes every job
  // on the thread that waits, and the pool still gives every result. Once `stop` is
  // requested, a file being hashed is left part way (its job reads as unread).
  bool start(unsigned threads, std::stop_token stop = {});

  // Queues `job`, which must stay where it is until wait() has returned for it.
  void submit(DigestJob& job);
  // True once `job` is hashed.
  bool done(const DigestJob& job);
  // Returns once `job` is hashed; a job no thread has taken yet is hashed here.
  void wait(DigestJob& job);

 private:
  void run();
  // Hashes a job taken off the queue with the lock released meanwhile; `lock` is held on
  // entry and on return.
  void hashUnlocked(std::unique_lock<std::mutex>& lock, DigestJob& job);

  std::mutex mutex_;
  std::condition_variable queued_;
  std::condition_variable finished_;
  std::deque<DigestJob*> queue_;
  bool stopping_ = false;
  std::stop_token stop_;
  std::vector<std::thread> threads_;
};

// How many threads the verification pass hashes on: one a processor, from 1 to 8, unless the
// run's context says otherwise (update/RunContext.h).
unsigned digestThreads();

}  // namespace vestrel
