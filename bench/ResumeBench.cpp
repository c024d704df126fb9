// Downloads that go on from where they stopped: how many bytes the server sends for a large
// file whose transfer is cut off once, or whose run is killed half-way through it.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchContext.h"
#include "bench/RandomFile.h"
#include "tests/TestServer.h"

namespace vestrel {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kFileBytes = std::size_t{256} << 20;

// What the fault server served for `path` so far, answer by answer, as its log says.
std::vector<std::uint64_t> servedBytes(const std::string& path) {
  std::ifstream log(test::serverEnvDir() / "faultserver.log");
  std::stringstream text;
  text << log.rdbuf();
  const std::string all = text.str();
  const std::regex answer("served (\\d+) bytes of " + path + " with \\d+");
  std::vector<std::uint64_t> served;
  for (std::sregex_iterator it(all.begin(), all.end(), answer), end; it != end; ++it) {
    served.push_back(std::stoull((*it)[1]));
  }
  return served;
}

// Waits (at most a minute) until the server has logged `answers` answers for `path`.
std::vector<std::uint64_t> awaitServed(const std::string& path, std::size_t answers) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  std::vector<std::uint64_t> served = servedBytes(path);
  while (served.size() < answers && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    served = servedBytes(path);
  }
  return served;
}

// A release of one 256 MiB file of a name not served before (the fault server cuts off only
// a path's first answer), on the fault server's /cut/ tree. Returns its file server address;
// `served` receives the path its answers are logged under.
std::string freshRelease(std::string& served) {
  static int count = 0;
  const fs::path source = fs::path(VESTREL_BENCH_DIR) / "resume" / "big.bin";
  static const std::string digest = bench::writeRandom(source, kFileBytes, 7);
  const std::string name = "big-" + std::to_string(::getpid()) + "-" + std::to_string(++count);
  const std::string tree = "cut/bench-resume/launcher";
  const fs::path files = test::serverRoot() / tree / "launcher";
  fs::create_directories(files / ".launcher");
  fs::remove(files / (name + ".bin"));
  fs::create_hard_link(source, files / (name + ".bin"));
  std::ofstream(files / ".launcher" / "udirs.lists") << "";
  std::ofstream(files / ".launcher" / "ufile.lists") << name << ".bin\n";
  std::ofstream(files / ".launcher" / "uhash.lists") << digest << "\n";
  served = "/" + tree + "/launcher/" + name + ".bin";
  return test::faultBase(tree);
}

// A whole run in a child process, so that it can be killed like a player's.
pid_t startRun(const std::string& server, const fs::path& install) {
  const pid_t child = ::fork();
  if (child == 0) {
    std::_Exit(bench::runEngine(server, install) ? 0 : 1);
  }
  return child;
}

bool ranToEnd(pid_t child) {
  int status = 0;
  return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Cut off at 90 % once: the bytes served for the file in all may be at most 1.12 times its
// size. Killed once half of it is on the disk: the next run may be served at most 0.55 times
// its size.
void BM_Resume256MiB(benchmark::State& bench, bool killed) {
  const fs::path install = fs::path(VESTREL_BENCH_DIR) / "resume" / "install";
  for (auto _ : bench) {
    std::string path;
    const std::string server = freshRelease(path);
    fs::remove_all(install);
    fs::create_directories(install);
    if (killed) {
      const fs::path part = install / (fs::path(path).filename().string() + ".vestrel-part");
      const pid_t first = startRun(server, install);
      std::error_code error;
      while (!(fs::file_size(part, error) >= kFileBytes / 2 && !error) &&
             ::waitpid(first, nullptr, WNOHANG) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      ::kill(first, SIGKILL);
      ::waitpid(first, nullptr, 0);
    }
    if (!ranToEnd(startRun(server, install))) {
      bench.SkipWithError("the run did not finish");
      break;
    }
    const std::vector<std::uint64_t> served = awaitServed(path, 2);
    if (served.size() != 2) {
      bench.SkipWithError("the server did not answer twice");
      break;
    }
    const double counted = static_cast<double>(killed ? served[1] : served[0] + served[1]);
    bench.counters["served_ratio"] = counted / static_cast<double>(kFileBytes);
  }
}
BENCHMARK_CAPTURE(BM_Resume256MiB, cut_at_90_percent, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_Resume256MiB, killed_at_half, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace
}  // namespace vestrel
