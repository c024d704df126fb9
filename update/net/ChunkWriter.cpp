#include "update/net/ChunkWriter.h"

#include <cerrno>
#include <system_error>

#include "platform/Platform.h"
#include "platform/Sha256.h"

namespace vestrel {

ChunkWriter::ChunkWriter(std::FILE* part, const ChunkIndex& index, std::vector<bool> have)
    : part_(part), index_(index), have_(std::move(have)), thread_(&ChunkWriter::drain, this) {
  try {
    checker_ = std::thread(&ChunkWriter::check, this);
  } catch (const std::system_error&) {
    stop();
    throw;
  }
}

ChunkWriter::~ChunkWriter() {
  stop();
}

void ChunkWriter::stop() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    checking_.clear();
    waiting_.clear();
    waitingBytes_ = 0;
  }
  changed_.notify_all();
  thread_.join();
  if (checker_.joinable()) {
    checker_.join();
  }
}

bool ChunkWriter::add(std::size_t chunk, ChunkBytes bytes) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return waitingBytes_ < kMostWaitingBytes || failed_ || damaged_; });
  if (failed_ || damaged_) {
    return false;
  }
  waitingBytes_ += bytes.size();
  checking_.emplace_back(chunk, std::move(bytes));
  lock.unlock();
  changed_.notify_all();
  return true;
}

bool ChunkWriter::damaged() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return damaged_;
}

int ChunkWriter::error() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return error_;
}

ChunkBytes ChunkWriter::spareBuffer() {
  const std::lock_guard<std::mutex> lock(mutex_);
  ChunkBytes buffer;
  if (!spare_.empty()) {
    buffer = std::move(spare_.back());
    spare_.pop_back();
  }
  return buffer;
}

bool ChunkWriter::finish(std::string& md5) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] {
    return (checking_.empty() && !checkerBusy_ && waiting_.empty() && !busy_) || failed_ ||
           damaged_;
  });
  md5.clear();
  if (!failed_ && !damaged_ && hashed_ == index_.chunks.size()) {
    md5 = md5_.finishText();
  }
  return !failed_ && !damaged_;
}

// Each chunk's SHA-256 is taken here, beside the writing thread's MD5, rather than on the
// transfers' thread: the three then share the processors instead of two waiting on one.
void ChunkWriter::check() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !checking_.empty() || stopping_; });
    if (stopping_ || damaged_) {
      return;
    }
    std::pair<std::size_t, ChunkBytes> next = std::move(checking_.front());
    checking_.pop_front();
    checkerBusy_ = true;
    lock.unlock();
    const ChunkBytes& bytes = next.second;
    const bool named =
        platform::sha256Text(bytes.data(), bytes.size()) == index_.chunks[next.first].sha256;
    lock.lock();
    checkerBusy_ = false;
    if (named) {
      waiting_.push_back(std::move(next));
    } else {
      damaged_ = true;
      waitingBytes_ -= bytes.size();
    }
    changed_.notify_all();
  }
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
    std::pair<std::size_t, ChunkBytes> next = std::move(waiting_.front());
    waiting_.pop_front();
    waitingBytes_ -= next.second.size();
    busy_ = true;
    lock.unlock();
    changed_.notify_all();  // room for one more
    const bool written = take(next.first, next.second);
    lock.lock();
    if (spare_.size() < kMostSpareBuffers) {
      spare_.push_back(std::move(next.second));
    }
    busy_ = false;
    failed_ = !written;
    changed_.notify_all();
  }
}

bool ChunkWriter::take(std::size_t chunk, const ChunkBytes& bytes) {
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
bool ChunkWriter::hashInOrder(std::size_t arrived, const ChunkBytes& bytes) {
  ChunkBytes block;
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
    const ChunkBytes& taken = hashed_ == arrived ? bytes : block;
    md5_.add(taken.data(), taken.size());
  }
  return true;
}

}  // namespace vestrel
