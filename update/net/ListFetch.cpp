#include "update/net/ListFetch.h"

#include <algorithm>
#include <memory>

#include "support/Log.h"
#include "support/Texts.h"
#include "update/RunContext.h"
#include "update/net/FileServer.h"
#include "update/net/Transfer.h"
#include "update/net/TransferDriver.h"

namespace vestrel {

const FetchOperation& listOperation(ListKind kind) {
  switch (kind) {
    case ListKind::Folders:
      return kDirListFetch;
    case ListKind::Files:
      return kFileListFetch;
    case ListKind::Digests:
      break;
  }
  return kHashListFetch;
}

bool fetchListsTogether(const std::vector<ListRequest>& lists, std::vector<ListArrival>& arrivals) {
  const std::size_t count = lists.size();
  std::vector<Transfer> transfers(count);
  arrivals.assign(count, ListArrival{});
  std::vector<CURL*> handles;
  std::vector<bool> started(count, false);
  // One list that must go over IPv4 takes the others with it, onto one connection; a host
  // it cannot reach so fails that list whatever the others do.
  const bool ipv4Only = std::any_of(lists.begin(), lists.end(),
                                    [](const ListRequest& list) { return list.op->ipv4Only; });
  for (std::size_t i = 0; i < count; ++i) {
    Transfer& t = transfers[i];
    started[i] = openTransfer(t, *lists[i].op, lists[i].writePath, arrivals[i].failure);
    if (started[i]) {
      t.ipv4Only = ipv4Only;
      t.listBody = std::make_unique<ListBodyWriter>(t.file.get());
      setTransferOptions(t, listUrl(lists[i].op->listName));
      handles.push_back(t.curl.get());
    }
  }
  std::vector<TransferEnd> ends;
  if (!runTransfers(handles, ends, runContext().run.stopToken())) {
    return false;
  }
  std::size_t end = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (started[i]) {
      arrivals[i].received = finishTransfer(transfers[i], ends[end++], arrivals[i].failure);
    }
  }
  return true;
}

ListFetch reportArrival(const ListRequest& request, const ListArrival& arrival,
                        std::string* quietStatus) {
  if (arrival.received) {
    logLine(text::kDownloaded, request.logPath.c_str());
    return ListFetch::Received;
  }
  const FetchFailure& failure = arrival.failure;
  if (quietStatus != nullptr && failure.kind == FetchFailure::Kind::Status) {
    *quietStatus = failure.text;
    return ListFetch::NotServed;
  }
  report(*request.op, failure);
  return failure.kind == FetchFailure::Kind::OverLimit ? ListFetch::Refused : ListFetch::Failed;
}

ListFetch fetchList(const ListRequest& request, std::string* quietStatus) {
  std::vector<ListArrival> arrivals;
  if (!fetchListsTogether({request}, arrivals)) {
    return ListFetch::Stopped;
  }
  return reportArrival(request, arrivals[0], quietStatus);
}

}  // namespace vestrel
