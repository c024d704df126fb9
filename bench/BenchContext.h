// A run context for the benchmarks, as a new program has one: fresh, current while it lives,
// and with its error boxes written to standard error instead of shown.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "update/PublisherKeys.h"
#include "update/RunContext.h"

namespace vestrel::bench {

class BenchContext {
 public:
  explicit BenchContext(const std::string& server = {}) : previous_(makeCurrentContext(&context_)) {
    context_.boxes.setSink([](const std::string&, const std::string& text) {
      std::fprintf(stderr, "error box: %s\n", text.c_str());
    });
    if (!server.empty()) {
      context_.net.fileServer = server;
    }
  }
  ~BenchContext() { makeCurrentContext(previous_); }
  BenchContext(const BenchContext&) = delete;
  BenchContext& operator=(const BenchContext&) = delete;

  RunContext& get() { return context_; }

 private:
  RunContext context_;  // before previous_: made before it is made current
  SupportContext* previous_;
};

// A whole run of a new program against `server` into `install`, from the folder to the
// hand-over to the launch (the programs are not started), trusting the publisher `keys`
// (base64, comma-separated) when given. False when it did not get there.
inline bool runEngine(const std::string& server, const std::filesystem::path& install,
                      const std::string& keys = {}) {
  BenchContext fresh(server);  // a new program starts with no connection open
  if (!keys.empty()) {
    fresh.get().publisherKeys = decodePublisherKeys(keys);
  }
  InstallState& state = fresh.get().state;
  state.installFolder = install.string() + "/";
  return moveToStage(state.stage, RunStage::Preparing) && updateInstall(fresh.get()) &&
         state.pendingCount == 0;
}

// The command that starts `program` (a Linux program built for the benchmarks) with settings
// under `config` that name `install` as its folder, on bench/run's X display. A run that
// cannot finish shows a box and waits for the player: it fails after a minute.
inline std::string programCommand(const std::filesystem::path& program,
                                  const std::filesystem::path& config,
                                  const std::filesystem::path& install) {
  std::filesystem::create_directories(config / "Vestrel");
  std::ofstream(config / "Vestrel" / "launcherPath") << install.string() << "/";
  return "cd '" + program.parent_path().string() + "' && XDG_CONFIG_HOME='" + config.string() +
         "' timeout 60 '" + program.string() + "' >'" + config.string() + "/output.txt' 2>&1";
}

}  // namespace vestrel::bench
