#include "update/net/TransferDriver.h"

#include <algorithm>

namespace vestrel {

TransferDriver::TransferDriver(std::stop_token stop)
    : TransferDriver(MultiHandle(curl_multi_init()), std::move(stop)) {}

TransferDriver::TransferDriver(MultiHandle multi, std::stop_token stop)
    : multi_(std::move(multi)), stop_(std::move(stop)) {
  configure();
  armWake();
}

TransferDriver::~TransferDriver() {
  wake_.reset();
  for (CURL* easy : easies_) {
    curl_multi_remove_handle(multi_.get(), easy);
  }
}

void TransferDriver::armWake() {
  wake_.emplace(stop_, std::function<void()>([this] {
                  if (multi_ != nullptr) {
                    curl_multi_wakeup(multi_.get());
                  }
                }));
}

void TransferDriver::configure() {
  if (multi_ == nullptr) {
    return;
  }
  curl_multi_setopt(multi_.get(), CURLMOPT_PIPELINING, static_cast<long>(CURLPIPE_MULTIPLEX));
  if (streams_ > 0) {
    curl_multi_setopt(multi_.get(), CURLMOPT_MAX_CONCURRENT_STREAMS, streams_);
    curl_multi_setopt(multi_.get(), CURLMOPT_MAX_HOST_CONNECTIONS, connections_);
  }
}

void TransferDriver::allowStreams(long streams, long connections) {
  streams_ = streams;
  connections_ = connections;
  configure();
}

bool TransferDriver::add(CURL* easy) {
  if (multi_ == nullptr || curl_multi_add_handle(multi_.get(), easy) != CURLM_OK) {
    return false;
  }
  easies_.push_back(easy);
  return true;
}

void TransferDriver::remove(CURL* easy) {
  const auto found = std::find(easies_.begin(), easies_.end(), easy);
  if (found != easies_.end()) {
    curl_multi_remove_handle(multi_.get(), easy);
    easies_.erase(found);
  }
}

std::size_t TransferDriver::failAll(CURLMcode error,
                                    const std::function<void(const TransferEnd&)>& ended) {
  std::vector<CURL*> failed;
  failed.swap(easies_);
  for (CURL* easy : failed) {
    curl_multi_remove_handle(multi_.get(), easy);
  }
  // A handle that failed once is not trusted again: the next transfers get a new one (or
  // none, and are refused when added).
  wake_.reset();
  multi_.reset(curl_multi_init());
  configure();
  armWake();
  for (CURL* easy : failed) {
    ended({easy, CURLE_OK, error});
  }
  return failed.size();
}

std::size_t TransferDriver::step(const std::function<void(const TransferEnd&)>& ended) {
  if (easies_.empty()) {
    return 0;
  }
  int active = 0;
  const CURLMcode performed = curl_multi_perform(multi_.get(), &active);
  if (performed != CURLM_OK) {
    return failAll(performed, ended);
  }
  std::size_t count = 0;
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi_.get(), &left)) {
    if (message->msg != CURLMSG_DONE) {
      continue;
    }
    const TransferEnd end{message->easy_handle, message->data.result, CURLM_OK};
    remove(end.easy);
    ++count;
    ended(end);
  }
  return count;
}

void TransferDriver::wait(std::chrono::milliseconds most) {
  if (stop_.stop_requested() || multi_ == nullptr) {
    return;
  }
  curl_multi_poll(multi_.get(), nullptr, 0, static_cast<int>(most.count()), nullptr);
}

bool runTransfers(const std::vector<CURL*>& transfers, std::vector<TransferEnd>& results,
                  std::stop_token stop) {
  constexpr std::chrono::milliseconds kLongestWait{1000};
  TransferDriver driver(stop);
  results.assign(transfers.size(), TransferEnd{});
  for (std::size_t i = 0; i < transfers.size(); ++i) {
    results[i] = {transfers[i], CURLE_FAILED_INIT, CURLM_OK};
    if (!driver.add(transfers[i])) {
      // Without a multi handle the transfer goes alone, the only way left; it is short of
      // the run's stop, but not of its limits.
      results[i].result = curl_easy_perform(transfers[i]);
    }
  }
  const auto record = [&](const TransferEnd& end) {
    const auto at = std::find(transfers.begin(), transfers.end(), end.easy);
    results[static_cast<std::size_t>(at - transfers.begin())] = end;
  };
  while (driver.running() > 0 && !driver.stopped()) {
    if (driver.step(record) == 0 && driver.running() > 0) {
      driver.wait(kLongestWait);
    }
  }
  if (driver.stopped()) {
    for (TransferEnd& result : results) {
      result.result = CURLE_ABORTED_BY_CALLBACK;
    }
    return false;
  }
  return true;
}

}  // namespace vestrel
