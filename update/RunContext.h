// Everything one run of the installer keeps beyond a single call, in one place: the support
// services' part (support/SupportContext.h), the install state, what the transfers share, the
// keys the run trusts, and the run's own thread.
//
// The program makes one context at start-up and makes it current; every part of the
// installer reaches it through runContext(). A test gets a fresh one for each case instead of
// putting back what an earlier case changed.
#pragma once

#include <string>
#include <vector>

#include "support/SupportContext.h"
#include "update/InstallState.h"
#include "update/ListRound.h"
#include "update/Run.h"
#include "update/net/NetContext.h"

namespace vestrel {

struct RunContext : SupportContext {
  RunContext();
  ~RunContext();

  InstallState state;
  // The release and the lists this run fetched together, until each is taken.
  ListRound lists;
  NetContext net;
  // The publisher keys the run holds the release to (update/PublisherKeys.h); empty: none.
  std::vector<std::string> publisherKeys;
  // How many threads hash the install folder; 0: one per core, at most eight.
  unsigned digestThreads = 0;
  // Last: its thread is stopped and joined before anything it uses goes.
  Run run;
};

// The current context (see support/SupportContext.h), which is always a RunContext in the
// installer and its tests.
inline RunContext& runContext() {
  return static_cast<RunContext&>(supportContext());
}

}  // namespace vestrel
