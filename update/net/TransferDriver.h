// Transfers side by side on one libcurl multi handle, driven on the calling thread: add them,
// then step and wait until they have ended. Every wait wakes when the run is asked to stop,
// so no transfer, however stalled, holds up the end of a run for longer than a moment.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <functional>
#include <optional>
#include <stop_token>
#include <vector>

#include "update/net/MultiHandle.h"

namespace vestrel {

// How one transfer ended. `multi` is not CURLM_OK when the multi handle itself failed while
// the transfer was in it: the transfer is then over too, whatever `result` says.
struct TransferEnd {
  CURL* easy = nullptr;
  CURLcode result = CURLE_OK;
  CURLMcode multi = CURLM_OK;
};

class TransferDriver {
 public:
  // Over a multi handle of its own; over `multi` when given (which may be one that fails).
  explicit TransferDriver(std::stop_token stop);
  TransferDriver(MultiHandle multi, std::stop_token stop);
  // Takes out whatever is still in it.
  ~TransferDriver();
  TransferDriver(const TransferDriver&) = delete;
  TransferDriver& operator=(const TransferDriver&) = delete;

  // Up to `streams` transfers share one multiplexed connection, over at most `connections`
  // connections to one host.
  void allowStreams(long streams, long connections);

  // Adds a transfer. False when the handle refuses it: it is then not in the driver.
  bool add(CURL* easy);
  // Takes a transfer out before it has ended.
  void remove(CURL* easy);
  std::size_t running() const { return easies_.size(); }

  // Lets libcurl move every transfer on, then hands each that ended to `ended`, already taken
  // out. When the multi handle fails, every transfer in it ends with that failure, and the
  // driver goes on with a new handle. Returns how many ended.
  std::size_t step(const std::function<void(const TransferEnd&)>& ended);
  // Waits until some transfer may move on, at most `most`; at once when the run is stopped.
  void wait(std::chrono::milliseconds most);
  bool stopped() const { return stop_.stop_requested(); }

 private:
  void configure();
  void armWake();
  std::size_t failAll(CURLMcode error, const std::function<void(const TransferEnd&)>& ended);

  MultiHandle multi_;
  std::stop_token stop_;
  long streams_ = 0;
  long connections_ = 0;
  std::vector<CURL*> easies_;
  // Wakes a wait when the run is asked to stop; after the handle, so it goes first.
  std::optional<std::stop_callback<std::function<void()>>> wake_;
};

// Runs `transfers` side by side to their ends: `results` in the same order. False when the
// run was asked to stop first: the transfers are taken out, and their results are
// CURLE_ABORTED_BY_CALLBACK.
bool runTransfers(const std::vector<CURL*>& transfers, std::vector<TransferEnd>& results,
                  std::stop_token stop);

}  // namespace vestrel
