// The chunks of one file on their way into its part (update/net/ChunkedDownload.h), on a
// thread of their own: each chunk, unpacked and checked against its name, is written at its
// offset, and the whole file's MD5 takes the part in order as it fills from its start, reading
// back what the part held before or what arrived ahead of its turn. The transfers go on
// receiving meanwhile: on a fast link the two halves of the work overlap instead of adding up,
// as for a file fetched whole (update/net/FileSink.h). At most a few MiB of chunks wait at a
// time; when the thread falls behind, add() waits for it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "update/chunks/ChunkIndex.h"
#include "update/digest/Md5.h"

namespace vestrel {

class ChunkWriter {
 public:
  // Writes into `part`, open for reading and writing, which stays the caller's to close once
  // this is gone; `have`: the chunks of `index` the part already holds. Throws
  // std::system_error when no thread can be had.
  ChunkWriter(std::FILE* part, const ChunkIndex& index, std::vector<bool> have);
  // Stops at once: chunks still waiting are dropped, what was written stays.
  ~ChunkWriter();
  ChunkWriter(const ChunkWriter&) = delete;
  ChunkWriter& operator=(const ChunkWriter&) = delete;

  // Hands over chunk `chunk` of the index, its bytes checked. False once the part could not
  // be written or read back.
  bool add(std::size_t chunk, std::vector<unsigned char> bytes);
  // Waits for every chunk handed over. True when all were written; once every chunk is in,
  // `md5` then receives the whole part's (otherwise it is left empty).
  bool finish(std::string& md5);
  // The system's error number when the part could not be written or read back.
  int error();

 private:
  // What may wait to be written, in bytes: enough to ride out a moment in which the
  // disk holds the writing back, without holding much of the file in memory.
  static constexpr std::size_t kMostWaitingBytes = std::size_t{32} << 20;

  void drain();
  bool take(std::size_t chunk, const std::vector<unsigned char>& bytes);
  bool hashInOrder(std::size_t arrived, const std::vector<unsigned char>& bytes);

  std::FILE* part_;
  const ChunkIndex& index_;
  // The thread's alone while it runs.
  std::vector<bool> have_;
  std::size_t hashed_ = 0;  // chunks from the start that the digest has taken
  Md5 md5_;
  int error_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::pair<std::size_t, std::vector<unsigned char>>> waiting_;
  std::size_t waitingBytes_ = 0;
  bool busy_ = true;  // the thread is taking a chunk, or what the part held at first
  bool stopping_ = false;
  bool failed_ = false;
  std::thread thread_;  // last: started once everything above is made
};

}  // namespace vestrel
