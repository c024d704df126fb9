// Where the file server is, and which CA the transfers trust.
#pragma once

#include <string>

namespace vestrel {

// The run's server address (update/net/NetContext.h), an https address whose path is
// "/launcher".
const std::string& fileServerBase();

// A CA bundle to trust instead of the system store, or empty.
const char* caFile();

}  // namespace vestrel
