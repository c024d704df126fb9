// The publisher keys a program trusts: base64 Ed25519 public keys built into it. With none,
// the program ignores the release file and trusts the lists as the server serves them; with
// any, a run goes on only with a release that one of them signed.
#pragma once

#include <string>
#include <vector>

namespace vestrel {

// The keys' bytes, in the order the build gave them; empty when the build gave none.
const std::vector<std::string>& publisherKeys();

// Tests trust other keys (comma-separated base64, "" for none); nullptr restores the built-in
// ones. Only while no run is going on.
void setPublisherKeysForTesting(const char* commaSeparated);

}  // namespace vestrel
