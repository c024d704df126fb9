#include "update/BackgroundMd5.h"

#include <system_error>

namespace vestrel {

BackgroundMd5::~BackgroundMd5() {
  stopThread();
}

void BackgroundMd5::add(const char* data, std::size_t length) {
  if (!threaded_ && added_ + length > kInlineBytes) {
    try {
      thread_ = std::thread(&BackgroundMd5::hashBlocks, this);
      threaded_ = true;
    } catch (const std::system_error&) {
      // No thread to be had: hash on this one, as a small body is.
    }
  }
  added_ += length;
  if (!threaded_) {
    md5_.add(data, length);
    return;
  }
  while (length > 0) {
    if (filling_.capacity() < kBlockBytes) {
      filling_.reserve(kBlockBytes);
    }
    const std::size_t room = kBlockBytes - filling_.size();
    const std::size_t take = length < room ? length : room;
    filling_.insert(filling_.end(), data, data + take);
    data += take;
    length -= take;
    if (filling_.size() == kBlockBytes) {
      handOver();
    }
  }
}

void BackgroundMd5::handOver() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return waiting_.size() < kMostWaitingBlocks; });
  waiting_.push_back(std::move(filling_));
  if (!spare_.empty()) {
    filling_ = std::move(spare_.back());
    spare_.pop_back();
  } else {
    filling_ = {};
  }
  filling_.clear();
  lock.unlock();
  changed_.notify_all();
}

void BackgroundMd5::hashBlocks() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return ending_ || !waiting_.empty(); });
    if (waiting_.empty()) {
      return;
    }
    std::vector<char> block = std::move(waiting_.front());
    waiting_.pop_front();
    lock.unlock();
    changed_.notify_all();
    md5_.add(block.data(), block.size());
    lock.lock();
    spare_.push_back(std::move(block));
  }
}

void BackgroundMd5::stopThread() {
  if (!threaded_) {
    return;
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
  }
  changed_.notify_all();
  thread_.join();
  threaded_ = false;
}

std::string BackgroundMd5::finishText() {
  if (threaded_) {
    if (!filling_.empty()) {
      handOver();
    }
    stopThread();
  }
  return md5_.finishText();
}

}  // namespace vestrel
