// Where the file server is, where its files and lists are, and which CA the transfers trust.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace vestrel {

class FileHosts;
struct FetchFailure;

// The run's hosts (update/net/FileHosts.h): the file server, then its mirrors.
FileHosts& fileHosts();
// A host's base address, an https address whose path is "/launcher".
const std::string& hostBase(std::size_t host);
// The base address of the host a transfer goes to now (FileHosts::lastAsked() then names it).
const std::string& fileServerBase();

// Whether a file that failed for its host's sake (`failure`) is tried again without a box, and
// when (`readyAt`): at once on another host while it has failed fewer hosts than there are
// (`hostsTried` counts them), or once a host's short wait that it asked for is over (the log
// says so). False: every host has failed it, and the failure is the player's to see.
bool retryOnAnotherHost(const FetchFailure& failure, std::size_t& hostsTried,
                        std::chrono::steady_clock::time_point& readyAt);

// The address of a list (or the release file) by its name on the server.
std::string listUrl(const char* listName);

// The server address of a listed file, from its relative name in UTF-8 (the server names its
// files so): every byte outside the unreserved characters and '/' is percent-encoded, so any
// name reaches the server as named.
std::string fileUrl(const std::string& relativeName);

// A CA bundle to trust instead of the system store, or empty.
const char* caFile();

}  // namespace vestrel
