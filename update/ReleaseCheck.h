// Holding a run to the release the publisher signed, in a build with publisher keys
// (update/PublisherKeys.h). Without keys every function here leaves the run as it was.
//
// The run fetches the release file first and accepts it only when one of the keys signed it,
// it has not expired, and its serial is not lower than that of the release this install
// folder last accepted (the copy kept beside the lists, which only a completed run replaces).
// Each list must then be the one the release names by size and SHA-256, and each file too.
// Any refusal is one log line naming the rule, one box, and the end of the run: nothing on
// disk has changed and nothing is started.
#pragma once

#include <string>

#include "update/lists/ListRules.h"
#include "update/net/Fetcher.h"

namespace vestrel {

struct InstallState;

// Before the folder list: fetches and accepts the release into state.release. False when the
// run cannot go on: the release was refused or could not be had (reported), or the run was
// stopped.
bool acceptRelease(InstallState& state);

// Fetches a list to `localPath`. With a release, the list arrives under a temporary name and
// takes its own only when the release names it; one that differs is fetched once more after
// a pause (a publisher may be half-way through replacing the lists), then refused (Refused,
// reported).
ListFetch fetchReleasedList(const InstallState& state, ListKind kind, const std::string& localPath);

// Two lists, fetched at once (update/net/Fetcher.h) and then taken as fetchReleasedList takes
// each, the first before the second: the log reads as if one came after the other. Without a
// release too they arrive under temporary names, so a second list that came while the first
// failed replaces nothing. True when both are in place; otherwise the failure has been
// reported, unless the run was stopped.
bool fetchReleasedLists(const InstallState& state, ListKind first, const std::string& firstPath,
                        ListKind second, const std::string& secondPath);

// A refused release: the log line naming `rule`, the box. The caller then ends the run.
void refuseRelease(const std::string& rule);

// After a completed run: the accepted release becomes the one this folder last accepted.
void keepRelease(const InstallState& state);

}  // namespace vestrel
