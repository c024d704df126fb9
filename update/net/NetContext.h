// What the run's transfers share: where the server and its mirrors are, the limits a transfer is
// held to, the connection they ride on, the disk budget their bodies are written within, and the
// proxy they go through. One part of the run's context (update/RunContext.h).
#pragma once

#include <string>
#include <vector>

#include "update/net/DiskSpace.h"
#include "update/net/FileHosts.h"
#include "update/net/ProxyLookup.h"
#include "update/net/SharedConnection.h"

namespace vestrel {

inline constexpr long kMaxRedirects = 10;
inline constexpr long kConnectTimeoutSeconds = 30;
inline constexpr long kStallSeconds = 60;
// A transfer that averages less than this over the stall time is as good as stalled: at a
// trickle a file would hold its place for days.
inline constexpr long kMinimumBytesPerSecond = 1024;

// The server this program was built for and the hosts that mirror it
// (update/net/BuiltInFileServer.cpp, compiled into each program with its own addresses).
const char* builtInFileServer();
std::vector<std::string> builtInMirrors();

struct NetContext {
  // The server's base address, an https address whose path is "/launcher".
  std::string fileServer = builtInFileServer();
  // Hosts that serve the same tree, tried in turn after it; which of them the run is on.
  std::vector<std::string> mirrors = builtInMirrors();
  FileHosts hosts{1 + mirrors.size()};
  // A connection that is not up within this, or a transfer that receives less than the
  // minimum rate for this long, fails like any other error.
  long connectTimeoutSeconds = kConnectTimeoutSeconds;
  long stallSeconds = kStallSeconds;
  SharedConnection connection;
  DiskBudget disk;
  ProxyLookup proxy;
};

}  // namespace vestrel
