// The chunks of one file on their way into its part (update/net/ChunkedDownload.h), on two
// threads of their own: on one each unpacked chunk is checked against its name, on the other
// it is written at its offset, and the whole file's MD5 takes the part in order as it fills
// from its start, reading back what the part held before or what arrived ahead of its turn.
// The transfers go on receiving meanwhile: on a fast link the parts of the work overlap
// instead of adding up, as for a file fetched whole (update/net/FileSink.h). At most a few MiB
// of chunks wait at a time; when the threads fall behind, add() waits for them.
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

#include "update/chunks/ChunkBytes.h"
#include "update/chunks/ChunkIndex.h"
#include "update/digest/Md5.h"

namespace vestrel {

class ChunkWriter {
 public:
  // Writes into `part`, open for reading and writing, which stays the caller's to close once
  // this is gone; `have`: the chunks of `index` the part already holds. Throws
  // std::system_error when no threads can be had.
  ChunkWriter(std::FILE* part, const ChunkIndex& index, std::vector<bool> have);
  // Stops at once: chunks still waiting are dropped, what was written stays.
  ~ChunkWriter();
  ChunkWriter(const ChunkWriter&) = delete;
  ChunkWriter& operator=(const ChunkWriter&) = delete;

  // Hands over chunk `chunk` of the index, unpacked. False once a chunk was not the bytes it
  // is named by, or the part could not be written or read back (damaged() says which).
  bool add(std::size_t chunk, ChunkBytes bytes);
  // Waits for every chunk handed over. True when all were what they are named by and were
  // written; once every chunk is in, `md5` then receives the whole part's (otherwise it is
  // left empty).
  bool finish(std::string& md5);
  // A chunk handed over was not the bytes it is named by.
  bool damaged();
  // The system's error number when the part could not be written or read back.
  int error();
  // Room for the next chunk's bytes: one that was written out already when there is one, so
  // that the chunks of a large file do not each take fresh memory from the system.
  ChunkBytes spareBuffer();

 private:
  // What may wait to be written, in bytes: enough to ride out a moment in which the
  // disk holds the writing back, without holding much of the file in memory.
  static constexpr std::size_t kMostWaitingBytes = std::size_t{32} << 20;
  // Written-out chunks' memory kept for the next ones: enough for the few arriving meanwhile.
  static constexpr std::size_t kMostSpareBuffers = 8;

  void stop();
  void check();
  void drain();
  bool take(std::size_t chunk, const ChunkBytes& bytes);
  bool hashInOrder(std::size_t arrived, const ChunkBytes& bytes);

  std::FILE* part_;
  const ChunkIndex& index_;
  // The thread's alone while it runs.
  std::vector<bool> have_;
  std::size_t hashed_ = 0;  // chunks from the start that the digest has taken
  Md5 md5_;
  int error_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::pair<std::size_t, ChunkBytes>> checking_;  // to be checked, then
  std::deque<std::pair<std::size_t, ChunkBytes>> waiting_;   // to be written
  std::size_t waitingBytes_ = 0;
  std::vector<ChunkBytes> spare_;
  bool checkerBusy_ = false;  // a chunk is being checked
  bool busy_ = true;  // the writing thread is taking a chunk, or what the part held at first
  bool stopping_ = false;
  bool failed_ = false;
  bool damaged_ = false;
  std::thread thread_;  // last: started once everything above is made
  std::thread checker_;
};

}  // namespace vestrel
