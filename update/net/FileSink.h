// A listed file's body on its way to disk: held to the room there is for it, written to the
// file and hashed with MD5 as it arrives, so the check after the download needs no second
// read.
//
// Room: no body grows past kMaxFileBytes or into the disk reserve (update/net/DiskSpace.h). A
// length the server announces is taken from the shared budget before the first byte is
// written, so a file that cannot fit fails before it is started; a body of unknown length
// takes the budget a step ahead as it grows. What was taken but not written goes back when
// the sink goes.
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
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Sha256.h"
#include "update/digest/Md5.h"
#include "update/net/BodySink.h"

namespace vestrel {

class DiskBudget;

class FileSink final : public BodySink {
 public:
  // What the body may take of the disk: from `disk`, the run's budget of the volume that
  // holds `folder` (none, or an empty folder: none is taken, only kMaxFileBytes holds), and
  // the length the server announced (0: not known), asked for when the first bytes arrive, as
  // only then is it known.
  // With a signed release, the body's length is known beforehand and a longer one is refused
  // at once (`exactLength`, 0: not known), and it is hashed with SHA-256 too.
  struct Budget {
    DiskBudget* disk = nullptr;
    std::string folder;
    std::function<std::uint64_t()> announcedLength;
    std::uint64_t exactLength = 0;
    bool sha256 = false;
  };

  // Writes to `file`, which the caller keeps open until finish() and then closes.
  explicit FileSink(std::FILE* file);
  FileSink(std::FILE* file, Budget budget);
  ~FileSink() override;
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  // Takes up the bytes the file already holds, the start of the body kept from an earlier
  // transfer: they are hashed, as if just received, and count as received, but take nothing
  // more of the disk; later bytes go after them. False when they could not be read (the file
  // is then no start to build on).
  bool takeUp();
  // Takes the next bytes of the body. False once the body does not fit or a write has
  // failed: the transfer should stop.
  bool add(const char* data, std::size_t length) override;
  // Waits until every byte is written and hashed. False when a write failed; `error` then
  // holds the system's error number.
  bool finish(int& error) override;
  // The body's digest as the lists write it, after finish(); the same however often asked.
  const std::string& digest();
  // Its SHA-256, after finish(), when the budget asked for it; else empty.
  const std::string& sha256Digest();

  // The bytes taken so far, and how many of them were already in the file.
  std::uint64_t received() const { return received_; }
  std::uint64_t kept() const { return kept_; }
  // The body was refused for want of room, and how many bytes were missing (0: not known).
  bool diskFull() const { return diskFull_; }
  std::uint64_t shortBy() const { return shortBy_; }
  // The body was refused for growing past its exact length.
  bool tooLong() const { return tooLong_; }

 private:
  static constexpr std::size_t kInlineBytes = 1 << 20;
  static constexpr std::size_t kBlockBytes = 1024 * 1024;
  static constexpr std::size_t kMostWaitingBlocks = 4;
  static constexpr std::uint64_t kBudgetStep = 1 << 20;

  // Every limit on the body is checked here, before its bytes are taken.
  bool admit(std::size_t length);
  bool cover(std::uint64_t total);
  bool refuse(std::uint64_t shortBy);
  // Every digest of the body is fed here, in the order the bytes are written.
  void hash(const char* data, std::size_t length) {
    md5_.add(data, length);
    if (sha256_ != nullptr) {
      sha256_->add(data, length);
    }
  }
  bool write(const char* data, std::size_t length);
  void handOver();
  void drainBlocks();
  void stopThread();

  std::FILE* file_;
  const Budget budget_;
  // The transfer's thread's alone.
  std::uint64_t received_ = 0;
  std::uint64_t kept_ = 0;
  std::uint64_t covered_ = 0;  // taken from the budget so far, or already on the disk
  bool started_ = false;       // the first bytes of this transfer were admitted
  bool lengthKnown_ = false;
  bool diskFull_ = false;
  bool tooLong_ = false;
  std::uint64_t shortBy_ = 0;
  // The file and the hasher are the caller's until the thread starts, then the thread's until
  // it is joined.
  Md5 md5_;
  std::unique_ptr<platform::Sha256> sha256_;
  // The digests once taken: finishing a hasher resets it.
  bool digested_ = false;
  std::string md5Text_;
  std::string sha256Text_;
  int error_ = 0;
  std::atomic<bool> failed_{false};
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
