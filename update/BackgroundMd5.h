// MD5 of a body while it is still arriving, without holding up the arrival.
//
// The first bytes are hashed on the caller's thread; once the body is larger than a small file,
// further bytes are handed over in blocks to a thread of its own, so that hashing a large
// download overlaps with receiving it instead of adding to it. At most a few blocks wait at a
// time: when the hashing falls behind, add() waits for it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "update/Md5.h"

namespace vestrel {

class BackgroundMd5 {
 public:
  BackgroundMd5() = default;
  ~BackgroundMd5();
  BackgroundMd5(const BackgroundMd5&) = delete;
  BackgroundMd5& operator=(const BackgroundMd5&) = delete;

  void add(const char* data, std::size_t length);
  // Waits for every byte to be hashed and gives the digest as Md5::finishText does.
  std::string finishText();

 private:
  static constexpr std::size_t kInlineBytes = 1 << 20;
  static constexpr std::size_t kBlockBytes = 256 * 1024;
  static constexpr std::size_t kMostWaitingBlocks = 8;

  void handOver();
  void hashBlocks();
  void stopThread();

  Md5 md5_;  // the caller's until the thread starts, then the thread's until it is joined
  std::size_t added_ = 0;
  std::vector<char> filling_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<char>> waiting_;
  std::vector<std::vector<char>> spare_;
  bool ending_ = false;
  bool threaded_ = false;
  std::thread thread_;
};

}  // namespace vestrel
