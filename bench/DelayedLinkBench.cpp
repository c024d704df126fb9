// The engine over a link with a 50 ms round trip (tests/server/delayproxy, 25 ms each way, which
// bench/run starts in front of the loopback server), side by side with the curl tool fetching
// the same files with as many transfers at once.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "support/ErrorReport.h"
#include "support/Log.h"
#include "tests/TestServer.h"
#include "update/InstallState.h"
#include "update/PrepareDirectories.h"
#include "update/Workers.h"
#include "update/digest/Md5.h"
#include "update/net/Fetcher.h"
#include "update/net/FileServer.h"
#include "update/net/ParallelDownloads.h"

namespace vestrel {
namespace {

namespace fs = std::filesystem;

constexpr int kSmallFiles = 498;  // and the two programs: the lists' 500-line limit
constexpr std::size_t kSmallFile = 16 * 1024;
constexpr int kDelayedPort = 18445;
const std::string kTree = "bench-small";
const fs::path kBenchDir = VESTREL_BENCH_DIR;

std::string smallName(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "data/s%03d.bin", i);
  return name;
}

std::string delayedBase() {
  return "https://127.0.0.1:" + std::to_string(kDelayedPort) + "/" + kTree + "/launcher";
}

void quietBox(const std::string&, const std::string& text) {
  std::fprintf(stderr, "error box: %s\n", text.c_str());
}

// The 500-line tree on the server, once per run of the benchmarks.
void publishSmallTree() {
  static const bool published = [] {
    const fs::path files = test::serverRoot() / kTree / "launcher" / "launcher";
    fs::remove_all(test::serverRoot() / kTree);
    fs::create_directories(files / ".launcher");
    fs::create_directories(files / "data");
    std::string fileList, hashList;
    const auto publish = [&](const std::string& name, const std::string& bytes) {
      std::ofstream(files / name, std::ios::binary) << bytes;
      Md5 md5;
      md5.add(bytes.data(), bytes.size());
      fileList += name + "\n";
      hashList += md5.finishText() + "\n";
    };
    for (int i = 0; i < kSmallFiles; ++i) {
      std::string bytes(kSmallFile, '\0');
      for (std::size_t b = 0; b < bytes.size(); ++b) {
        bytes[b] = static_cast<char>((b * 31 + static_cast<std::size_t>(i) * 7) >> 3);
      }
      publish(smallName(i), bytes);
    }
    publish("updateTool.exe", "the update tool");
    publish("process.exe", "the launcher");
    std::ofstream(files / ".launcher" / "udirs.lists") << "data\n";
    std::ofstream(files / ".launcher" / "ufile.lists") << fileList;
    std::ofstream(files / ".launcher" / "uhash.lists") << hashList;
    return true;
  }();
  (void)published;
}

// From the first frame to the hand-over to launch, as the program runs it: preparation, then
// the frame protocol once per 60 Hz frame. False when the run did not reach launch.
bool runEngine(const fs::path& install) {
  forgetSharedConnections();  // a new program starts with no connection open
  InstallState& state = installState();
  resetInstallState(state);
  logStart("");
  prepareDirectories(state, install.string() + "/");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);
  while (state.screenMode != kScreenLaunch) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    runFrameProtocol(state);
    std::this_thread::sleep_for(std::chrono::microseconds(16667));
  }
  return state.pendingCount == 0;
}

void BM_FirstInstall500FilesOver50msRoundTrip(benchmark::State& bench) {
  publishSmallTree();
  setErrorBoxSink(&quietBox);
  setFileServerBase(delayedBase());
  const fs::path install = kBenchDir / "delayed-first";
  for (auto _ : bench) {
    bench.PauseTiming();
    fs::remove_all(install);
    fs::create_directories(install);
    bench.ResumeTiming();
    if (!runEngine(install)) {
      bench.SkipWithError("the run did not finish");
      break;
    }
  }
}
BENCHMARK(BM_FirstInstall500FilesOver50msRoundTrip)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

void BM_CurlParallel6Over50msRoundTrip(benchmark::State& bench) {
  publishSmallTree();
  const fs::path dir = kBenchDir / "delayed-curl";
  const fs::path config = dir / "urls.conf";
  fs::create_directories(dir / "data");
  {
    std::ofstream out(config);
    for (int i = 0; i < kSmallFiles; ++i) {
      out << "url = \"" << delayedBase() << "/launcher/" << smallName(i) << "\"\n"
          << "output = \"" << (dir / smallName(i)).string() << "\"\n";
    }
  }
  const std::string command = "curl -sSf --parallel --parallel-max 6 --cacert '" + test::caFile() +
                              "' -K '" + config.string() + "'";
  for (auto _ : bench) {
    if (std::system(command.c_str()) != 0) {
      bench.SkipWithError("curl failed");
      break;
    }
  }
}
BENCHMARK(BM_CurlParallel6Over50msRoundTrip)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// The same folder again, already up to date: the whole way from start to launch.
void BM_UpToDateStartToLaunchOver50msRoundTrip(benchmark::State& bench) {
  publishSmallTree();
  setErrorBoxSink(&quietBox);
  setFileServerBase(delayedBase());
  const fs::path install = kBenchDir / "delayed-uptodate";
  if (!fs::exists(install / "process.exe")) {
    fs::create_directories(install);
    if (!runEngine(install)) {
      bench.SkipWithError("the first install did not finish");
      return;
    }
  }
  for (auto _ : bench) {
    if (!runEngine(install)) {
      bench.SkipWithError("the run did not finish");
      break;
    }
  }
}
BENCHMARK(BM_UpToDateStartToLaunchOver50msRoundTrip)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10);

}  // namespace
}  // namespace vestrel
