#include "update/net/ChunkWriter.h"

#include <cerrno>

#include "platform/Platform.h"

namespace vestrel {

ChunkWriter::ChunkWriter(std::FILE* part, const ChunkIndex& index, std::vector<bool> have)
    : part_(part), index_(index), have_(std::move(have)), thread_(&ChunkWriter::drain, this) {}

ChunkWriter::~ChunkWriter() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    waiting_.clear();
    waitingBytes_ = 0;
  }
  changed_.notify_all();
  thread_.join();
}

bool ChunkWriter::add(std::size_t chunk, std::vector<unsigned char> bytes) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return waitingBytes_ < kMostWaitingBytes || failed_; });
  if (failed_) {
    return false;
  }
  waitingBytes_ += bytes.size();
  waiting_.emplace_back(chunk, std::move(bytes));
  lock.unlock();
  changed_.notify_one();
  return true;
}

int ChunkWriter::error() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return error_;
}

bool ChunkWriter::finish(std::string& md5) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return (waiting_.empty() && !busy_) || failed_; });
  md5.clear();
  if (!failed_ && hashed_ == index_.chunks.size()) {
    md5 = md5_.finishText();
  }
  return !failed_;
}

void ChunkWriter::drain() {
  // First what the part held from its start before any chunk came.
  const bool held = hashInOrder(index_.chunks.size(), {});
  std::unique_lock<std::mutex> lock(mutex_);
  busy_ = false;
  failed_ = !held;
  changed_.notify_all();
  for (;;) {
    changed_.wait(lock, [this] { return !waiting_.empty() || stopping_; });
    if (stopping_ || failed_) {
      return;
    }
    std::pair<std::size_t, std::vector<unsigned char>> next = std::move(waiting_.front());
    waiting_.pop_front();
    waitingBytes_ -= next.second.size();
    busy_ = true;
    lock.unlock();
    changed_.notify_all();  // room for one more
    const bool written = take(next.first, next.second);
    lock.lock();
    busy_ = false;
    failed_ = !written;
    changed_.notify_all();
  }
}

bool ChunkWriter::take(std::size_t chunk, const std::vector<unsigned char>& bytes) {
  if (!platform::seekFile(part_, index_.chunks[chunk].offset) ||
      std::fwrite(bytes.data(), 1, bytes.size(), part_) != bytes.size()) {
    error_ = errno;
    return false;
  }
  have_[chunk] = true;
  return hashInOrder(chunk, bytes);
}

// Chunk `arrived` (its bytes `bytes`) is in the part: the digest takes every chunk from the
// first it lacks while the part holds it, the one that arrived from memory and the others
// read back.
bool ChunkWriter::hashInOrder(std::size_t arrived, const std::vector<unsigned char>& bytes) {
  std::vector<unsigned char> block;
  for (; hashed_ < have_.size() && have_[hashed_]; ++hashed_) {
    const ChunkRef& chunk = index_.chunks[hashed_];
    if (hashed_ != arrived) {
      block.resize(chunk.size);
      if (!platform::seekFile(part_, chunk.offset) ||
          std::fread(block.data(), 1, block.size(), part_) != block.size()) {
        error_ = errno;
        return false;
      }
    }
    const std::vector<unsigned char>& taken = hashed_ == arrived ? bytes : block;
    md5_.add(taken.data(), taken.size());
  }
  return true;
}

}  // namespace vestrel
