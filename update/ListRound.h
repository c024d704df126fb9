// The signed release file and the three lists in one round: requested side by side as soon
// as the install folder is ready, each under a temporary name there, and then taken one by one
// in the order the run needs them. Each is reported only when taken, as if it had been fetched
// alone just then, so the log reads as it always has; and nothing is made from a list before
// it is taken, that is, before the release has been accepted and has named it.
#pragma once

#include <array>
#include <string>

#include "update/lists/ListRules.h"
#include "update/net/ListFetch.h"

namespace vestrel {

struct InstallState;

class ListRound {
 public:
  ListRound() = default;
  // What was fetched but never taken goes.
  ~ListRound();
  ListRound(const ListRound&) = delete;
  ListRound& operator=(const ListRound&) = delete;

  // Requests the three lists, and the release file when `withRelease`, into the install
  // folder `folder`; reports nothing. False when the run was asked to stop first.
  bool fetch(const std::string& folder, bool withRelease);

  // The release file's fetch, reported (an answer other than 200 quietly, as NotServed with
  // the status in `status`); its body is left in releaseBody() for the caller, who removes it.
  // Fetched alone now when the round did not fetch it.
  ListFetch takeRelease(const std::string& folder, std::string& status);
  static std::string releaseBody(const std::string& folder);

  // A list in place under its own name, reported as if fetched alone now. With a release, only
  // the list the release names by size and SHA-256 takes its name; one that differs is fetched
  // once more after a pause (a publisher may be half-way through replacing the lists), then
  // refused (reported: Refused). Fetched alone now when the round did not fetch it.
  ListFetch takeList(const InstallState& state, ListKind kind);

  // Removes what was fetched but not taken (a run that ended before it needed the rest).
  void discard();

 private:
  struct Slot {
    ListRequest request;
    ListArrival arrival;
    bool pending = false;  // fetched in the round, not yet taken
  };
  ListFetch take(Slot& slot, const ListRequest& request, std::string* quietStatus);

  // The release file first, then the lists in ListKind's order.
  std::array<Slot, 4> slots_;
};

}  // namespace vestrel
