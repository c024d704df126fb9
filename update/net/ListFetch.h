// The three lists and the signed release file from the server. Each is one GET whose body
// streams into a local file, bounded by the list size limit; several are fetched side by side
// on the run's connection, and how each ended is reported only when its caller takes it, so
// that the log reads as if they had come one after the other.
#pragma once

#include <string>
#include <vector>

#include "update/lists/ListRules.h"
#include "update/net/FetchOperation.h"
#include "update/net/FetchReport.h"

namespace vestrel {

// How a list fetch ended. Refused: the body passed the list size limit, the transfer was cut
// off, and the refusal has been reported (the caller takes its refusal path). NotServed: the
// server answered, but not with the list, and nothing has been reported (only where the
// caller asked for quiet). Stopped: the run was asked to stop first; nothing has been
// reported.
enum class ListFetch { Received, Failed, Refused, NotServed, Stopped };

// One list to fetch: which one, where its body is written, and what its success line names.
struct ListRequest {
  const FetchOperation* op = nullptr;
  std::string writePath;
  std::string logPath;
};

// How one list's transfer ended, not yet reported.
struct ListArrival {
  bool received = false;
  FetchFailure failure;
};

// What a list is fetched as: its name on the server and its failure lines.
const FetchOperation& listOperation(ListKind kind);

// Fetches `lists` side by side on the run's connection, reporting nothing: `arrivals` in the
// same order. False when the run was asked to stop first; what was written is the caller's to
// remove either way.
bool fetchListsTogether(const std::vector<ListRequest>& lists, std::vector<ListArrival>& arrivals);

// Reports an arrival as a lone fetch would have: the success line naming its log path, or its
// failure. With `quietStatus`, an answer other than 200 is not reported: it is NotServed, with
// the status ("HTTP 404") in *quietStatus.
ListFetch reportArrival(const ListRequest& request, const ListArrival& arrival,
                        std::string* quietStatus = nullptr);

// One list alone: fetched, then reported.
ListFetch fetchList(const ListRequest& request, std::string* quietStatus = nullptr);

}  // namespace vestrel
