// A downloaded file's bytes on their way to disk: written to the file and hashed with MD5 as
// they arrive, so the check after the download needs no second read.
//
// A small body is written and hashed at once on the transfer's thread. Once the body is
// larger than a small file, the bytes are handed over in blocks to a thread of their own,
// which writes and hashes them while the transfer goes on receiving: on a fast link the two
// halves of the work overlap instead of adding up. At most a few blocks wait at a time; when
// the disk or the hashing falls behind, add() waits for it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "update/Md5.h"

namespace vestrel {

class FileSink {
 public:
  // Writes to `file`, which the caller keeps open until finish() and then closes.
  explicit FileSink(std::FILE* file) : file_(file) {}
  ~FileSink();
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  // Takes the next bytes of the body. False once a write has failed: the transfer should stop.
  bool add(const char* data, std::size_t length);
  // Waits until every byte is written and hashed. False when a write failed; `error` then
  // holds the system's error number.
  bool finish(int& error);
  // The body's digest as the lists write it, after finish().
  std::string digest() { return md5_.finishText(); }

 private:
  static constexpr std::size_t kInlineBytes = 1 << 20;
  static constexpr std::size_t kBlockBytes = 1024 * 1024;
  static constexpr std::size_t kMostWaitingBlocks = 4;

  bool write(const char* data, std::size_t length);
  void handOver();
  void drainBlocks();
  void stopThread();

  std::FILE* file_;
  // The file and the hasher are the caller's until the thread starts, then the thread's until
  // it is joined.
  Md5 md5_;
  int error_ = 0;
  std::atomic<bool> failed_{false};
  std::size_t added_ = 0;
  std::vector<char> filling_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<char>> waiting_;
  std::vector<std::vector<char>> spare_;
  bool ending_ = false;
  bool threaded_ = false;
  bool threadTried_ = false;
  std::thread thread_;
};

}  // namespace vestrel
