// The publisher keys a program trusts: base64 Ed25519 public keys built into it. With none,
// the program ignores the release file and trusts the lists as the server serves them; with
// any, a run goes on only with a release that one of them signed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vestrel {

// The keys' bytes this program was built with, in the order the build gave them (compiled
// into each program with its own keys); empty when the build gave none.
std::vector<std::string> builtInPublisherKeys();

// Comma-separated base64 keys as bytes. A key that does not decode is kept as bytes no
// signature can match, so that a build with a mistyped key refuses every release instead of
// trusting the lists unsigned.
std::vector<std::string> decodePublisherKeys(std::string_view text);

// The keys the current run trusts (update/RunContext.h).
const std::vector<std::string>& publisherKeys();

}  // namespace vestrel
