// Holding a run to the release the publisher signed, in a build with publisher keys
// (update/PublisherKeys.h). Without keys every function here leaves the run as it was.
//
// The run takes the release file first and accepts it only when one of the keys signed it,
// it has not expired, and its serial is not lower than that of the release this install
// folder last accepted (the copy kept beside the lists, which only a completed run replaces).
// Each list must then be the one the release names by size and SHA-256, and each file too.
// Any refusal is one log line naming the rule, one box, and the end of the run: nothing on
// disk has changed and nothing is started.
#pragma once

#include <string>

#include "update/lists/ListRules.h"

namespace vestrel {

struct InstallState;
class ListRound;

// Before the folder list: takes the release file from the round (update/ListRound.h) and
// accepts it into state.release. False when the run cannot go on: the release was refused or
// could not be had (reported), or the run was stopped.
bool acceptRelease(InstallState& state, ListRound& round);

// Without a release every list that arrived is the one; with one, only the list it names by
// size and SHA-256. `path` is where the list's body is.
bool namedByRelease(const InstallState& state, ListKind kind, const std::string& path);

// A refused release: the log line naming `rule`, the box. The caller then ends the run.
void refuseRelease(const std::string& rule);

// After a completed run: the accepted release becomes the one this folder last accepted.
void keepRelease(const InstallState& state);

}  // namespace vestrel
