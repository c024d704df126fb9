// Where the file server is, where its files and lists are, and which CA the transfers trust.
#pragma once

#include <string>

namespace vestrel {

// The run's server address (update/net/NetContext.h), an https address whose path is
// "/launcher".
const std::string& fileServerBase();

// The address of a list (or the release file) by its name on the server.
std::string listUrl(const char* listName);

// The server address of a listed file, from its relative name in UTF-8 (the server names its
// files so): every byte outside the unreserved characters and '/' is percent-encoded, so any
// name reaches the server as named.
std::string fileUrl(const std::string& relativeName);

// A CA bundle to trust instead of the system store, or empty.
const char* caFile();

}  // namespace vestrel
