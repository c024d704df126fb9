#include "update/ListRound.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "support/ErrorReport.h"
#include "support/FormatText.h"
#include "support/HeldFiles.h"
#include "support/LocalPaths.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "update/InstallState.h"
#include "update/ReleaseCheck.h"
#include "update/Run.h"
#include "update/RunContext.h"
#include "update/net/FileServer.h"

namespace vestrel {
namespace {

constexpr std::chrono::seconds kListRetryPause{2};
constexpr std::size_t kMostListWaits = 2;

// The first list of a round that failed for its host's sake, if any.
const ListArrival* hostFailure(const std::vector<ListArrival>& arrivals) {
  for (const ListArrival& arrival : arrivals) {
    if (!arrival.received && arrival.failure.hostsFault) {
      return &arrival;
    }
  }
  return nullptr;
}

std::size_t slotOf(ListKind kind) {
  return 1 + static_cast<std::size_t>(kind);
}

// A file of the round: written under a temporary name beside its own, whose name the success
// line gives.
ListRequest requestFor(const FetchOperation& op, const std::string& folder) {
  const std::string path = joinPath(folder, op.listName);
  return {&op, path + kPartialSuffix, path};
}

}  // namespace

ListRound::~ListRound() {
  discard();
}

void ListRound::discard() {
  for (Slot& slot : slots_) {
    if (slot.pending) {
      removeIfPresent(slot.request.writePath);
      slot.pending = false;
    }
  }
}

bool ListRound::fetch(const std::string& folder, bool withRelease) {
  discard();
  std::vector<ListRequest> requests;
  std::vector<Slot*> fetched;
  for (std::size_t i = withRelease ? 0 : 1; i < slots_.size(); ++i) {
    const FetchOperation& op = i == 0 ? kReleaseFetch : listOperation(static_cast<ListKind>(i - 1));
    slots_[i].request = requestFor(op, folder);
    requests.push_back(slots_[i].request);
    fetched.push_back(&slots_[i]);
  }
  std::vector<ListArrival> arrivals;
  bool arrived = fetchListsTogether(requests, arrivals);
  // A round that a host failed is asked again of the next host, as a file would be, or of the
  // same host once the short wait it asked for is over; a few rounds at most.
  std::size_t hostsTried = 0;
  for (std::size_t round = 1; arrived && round < fileHosts().count() + kMostListWaits; ++round) {
    const ListArrival* failed = hostFailure(arrivals);
    std::chrono::steady_clock::time_point readyAt;
    if (failed == nullptr || !retryOnAnotherHost(failed->failure, hostsTried, readyAt)) {
      break;
    }
    const auto pause =
        std::chrono::ceil<std::chrono::milliseconds>(readyAt - std::chrono::steady_clock::now());
    arrived = pauseUnlessStopped(runContext().run.stopToken(),
                                 std::max(pause, std::chrono::milliseconds(0))) &&
              fetchListsTogether(requests, arrivals);
  }
  for (std::size_t i = 0; i < fetched.size(); ++i) {
    fetched[i]->pending = true;  // whatever was written, until taken or discarded
    if (arrived) {
      fetched[i]->arrival = arrivals[i];
    }
  }
  if (!arrived) {
    discard();
  }
  return arrived;
}

ListFetch ListRound::take(Slot& slot, const ListRequest& request, std::string* quietStatus) {
  if (!slot.pending || slot.request.writePath != request.writePath) {
    return fetchList(request, quietStatus);
  }
  slot.pending = false;  // from here on the caller's
  return reportArrival(request, slot.arrival, quietStatus);
}

std::string ListRound::releaseBody(const std::string& folder) {
  return requestFor(kReleaseFetch, folder).writePath;
}

ListFetch ListRound::takeRelease(const std::string& folder, std::string& status) {
  return take(slots_[0], requestFor(kReleaseFetch, folder), &status);
}

ListFetch ListRound::takeList(const InstallState& state, ListKind kind) {
  const ListRequest request = requestFor(listOperation(kind), state.installFolder);
  const std::string& temporary = request.writePath;
  const std::string& localPath = request.logPath;
  ListFetch fetched = take(slots_[slotOf(kind)], request, nullptr);
  for (int attempt = 0;; ++attempt) {
    if (attempt > 0) {
      if (!pauseUnlessStopped(runContext().run.stopToken(), kListRetryPause)) {
        removeIfPresent(temporary);
        return ListFetch::Stopped;
      }
      fetched = fetchList(request);
    }
    const bool same = fetched == ListFetch::Received && namedByRelease(state, kind, temporary);
    int error = 0;
    if (same && replaceWhenFree(temporary, localPath, error, runContext().run.stopToken())) {
      return ListFetch::Received;
    }
    removeIfPresent(temporary);
    if (fetched != ListFetch::Received) {
      return fetched;
    }
    if (same) {
      const std::string failure =
          systemText(text::kLocalFileWriteFailed, localPath.c_str(), systemReason(error).c_str());
      logMessage(failure);
      showError(systemText(text::kOtherErrorBox, failure.c_str()));
      return ListFetch::Failed;
    }
    if (attempt == 1) {
      refuseRelease(systemText(text::kReleaseListMismatch, listFileName(kind)));
      return ListFetch::Refused;
    }
  }
}

}  // namespace vestrel
