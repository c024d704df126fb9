#include "update/ListRound.h"

#include <chrono>
#include <vector>

#include "platform/Platform.h"
#include "support/ErrorReport.h"
#include "support/FormatText.h"
#include "support/LocalPaths.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "update/InstallState.h"
#include "update/ReleaseCheck.h"
#include "update/Run.h"
#include "update/RunContext.h"

namespace vestrel {
namespace {

constexpr std::chrono::seconds kListRetryPause{2};

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
  const bool arrived = fetchListsTogether(requests, arrivals);
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
    if (same && platform::replaceFile(temporary, localPath, error)) {
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
