#include "update/net/FileSink.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "update/net/DiskSpace.h"

namespace vestrel {

FileSink::FileSink(std::FILE* file) : FileSink(file, Budget{}) {}

FileSink::FileSink(std::FILE* file, Budget budget)
    : file_(file),
      budget_(std::move(budget)),
      sha256_(budget_.sha256 ? std::make_unique<platform::Sha256>() : nullptr) {}

FileSink::~FileSink() {
  stopThread();
  if (covered_ > received_ && budget_.disk != nullptr) {
    budget_.disk->giveBack(covered_ - received_);
  }
}

bool FileSink::admit(std::size_t length) {
  const std::uint64_t exact = budget_.exactLength;
  if (exact > 0 && received_ + length > exact) {
    tooLong_ = true;  // not one byte past the length the release gives is written
    return false;
  }
  if (!started_) {
    started_ = true;
    // A length the server announces that cannot fit fails before the first byte is written.
    const std::uint64_t announced = budget_.announcedLength ? budget_.announcedLength() : 0;
    if (exact > 0 && announced > exact) {
      tooLong_ = true;
      return false;
    }
    if (announced > 0) {
      lengthKnown_ = true;
      if (!cover(announced)) {
        return false;
      }
    }
  }
  return cover(received_ + length);
}

// Makes sure the body's first `total` bytes fit: within kMaxFileBytes (the release's length
// for the file where it gives one: admit holds the body to that) and the disk budget.
bool FileSink::cover(std::uint64_t total) {
  if (budget_.exactLength == 0 && total > kMaxFileBytes) {
    return refuse(lengthKnown_ ? total : 0);
  }
  if (total <= covered_ || budget_.disk == nullptr || budget_.folder.empty()) {
    return true;
  }
  // Taken a step ahead, so that the shared budget is not asked for every block.
  const std::uint64_t step = std::max(total - covered_, kBudgetStep);
  std::uint64_t shortBy = 0;
  if (budget_.disk->take(budget_.folder, step, shortBy)) {
    covered_ += step;
    return true;
  }
  if (budget_.disk->take(budget_.folder, total - covered_, shortBy)) {
    covered_ = total;
    return true;
  }
  // Without an announced length only the next few blocks are known, not what the file needs.
  return refuse(lengthKnown_ ? shortBy : 0);
}

bool FileSink::refuse(std::uint64_t shortBy) {
  diskFull_ = true;
  shortBy_ = shortBy;
  return false;
}

bool FileSink::takeUp() {
  std::vector<char> block(kBlockBytes);
  std::uint64_t kept = 0;
  for (;;) {
    const std::size_t length = std::fread(block.data(), 1, block.size(), file_);
    hash(block.data(), length);
    kept += length;
    if (length < block.size()) {
      break;
    }
  }
  // Read to its end, the file may be written straight after (no positioning call is needed
  // once input has met the end of the file).
  if (std::ferror(file_) != 0) {
    return false;
  }
  received_ = kept_ = covered_ = kept;
  return true;
}

bool FileSink::write(const char* data, std::size_t length) {
  if (std::fwrite(data, 1, length, file_) != length) {
    error_ = errno;
    failed_ = true;
    return false;
  }
  hash(data, length);
  return true;
}

bool FileSink::add(const char* data, std::size_t length) {
  if (!admit(length)) {
    return false;
  }
  received_ += length;
  if (failed_) {
    return false;
  }
  if (!threaded_ && !threadTried_ && received_ > kInlineBytes) {
    threadTried_ = true;  // one try per body: without a thread, the rest is written inline
    try {
      thread_ = std::thread(&FileSink::drainBlocks, this);
      threaded_ = true;
    } catch (const std::system_error&) {
      // No thread to be had: everything is done on this one, as for a small body.
    }
  }
  if (!threaded_) {
    return write(data, length);
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
  return !failed_;
}

void FileSink::handOver() {
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

void FileSink::drainBlocks() {
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
    if (!failed_) {
      write(block.data(), block.size());  // after a failure the rest is only let through
    }
    lock.lock();
    spare_.push_back(std::move(block));
  }
}

void FileSink::stopThread() {
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

const std::string& FileSink::digest() {
  if (!digested_) {
    digested_ = true;
    md5Text_ = md5_.finishText();
    sha256Text_ = sha256_ != nullptr ? sha256_->finishText() : "";
  }
  return md5Text_;
}

const std::string& FileSink::sha256Digest() {
  digest();
  return sha256Text_;
}

bool FileSink::finish(int& error) {
  if (threaded_) {
    if (!filling_.empty()) {
      handOver();
    }
    stopThread();
  }
  error = error_;
  return !failed_;
}

}  // namespace vestrel
