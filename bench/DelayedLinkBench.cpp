// The engine over a link with a 50 ms round trip (tests/server/delayproxy, 25 ms each way, which
// bench/run starts in front of the loopback server's HTTP/2 and HTTP/1.1 ports), side by side
// with the curl tool fetching the same files: over HTTP/2 with as many streams as it likes, over
// HTTP/1.1 with as many connections as the engine opens. The programs themselves, from their
// start to their exit, stand beside the same peers: the Linux one on an X display, the Windows
// one and curl.exe under Wine (bench/run starts the display and builds what these need).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "bench/BenchContext.h"
#include "support/ErrorReport.h"
#include "support/FormatText.h"
#include "support/Log.h"
#include "tests/TestServer.h"
#include "update/PrepareDirectories.h"
#include "update/digest/Md5.h"
#include "update/net/FileServer.h"
#include "update/net/ListFetch.h"
#include "update/net/ParallelDownloads.h"

namespace vestrel {
namespace {

namespace fs = std::filesystem;

constexpr int kSmallFiles = 498;  // and the two programs: the lists' 500-line limit
constexpr std::size_t kSmallFile = 16 * 1024;
constexpr int kDelayedPort = 18445;       // to the server's HTTP/2 port
constexpr int kDelayedHttp1Port = 18448;  // to its HTTP/1.1 one
const std::string kTree = "bench-small";
const std::string kWindowsTree = "bench-windows";  // bench/run builds the Windows program for it
const fs::path kBenchDir = VESTREL_BENCH_DIR;
// What the Linux program starts at the end of a run: posix_spawn runs no file but a real
// executable, and this one ends at once.
const std::string kStandInProgram = "#!/bin/sh\n";

std::string smallName(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "data/s%03d.bin", i);
  return name;
}

std::string delayedBase(int port = kDelayedPort) {
  return "https://127.0.0.1:" + std::to_string(port) + "/" + kTree + "/launcher";
}

// A 500-line tree on the server: the 498 small files and the two programs, started at the end
// of a run (the engine never starts them; the programs do).
void publishTree(const std::string& tree, const std::string& program) {
  const fs::path files = test::serverRoot() / tree / "launcher" / "launcher";
  fs::remove_all(test::serverRoot() / tree);
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
  publish("updateTool.exe", program);
  publish("process.exe", program);
  std::ofstream(files / ".launcher" / "udirs.lists") << "data\n";
  std::ofstream(files / ".launcher" / "ufile.lists") << fileList;
  std::ofstream(files / ".launcher" / "uhash.lists") << hashList;
}

// The engine's tree, once per run of the benchmarks.
void publishSmallTree() {
  static const bool published = (publishTree(kTree, kStandInProgram), true);
  (void)published;
}

// A first install's folder, emptied outside the timing.
void emptyFolderUntimed(benchmark::State& bench, const fs::path& folder) {
  bench.PauseTiming();
  fs::remove_all(folder);
  fs::create_directories(folder);
  bench.ResumeTiming();
}

void BM_FirstInstall500FilesOver50msRoundTrip(benchmark::State& bench, int port) {
  publishSmallTree();
  const fs::path install = kBenchDir / "delayed-first";
  for (auto _ : bench) {
    emptyFolderUntimed(bench, install);
    if (!bench::runEngine(delayedBase(port), install)) {
      bench.SkipWithError("the run did not finish");
      break;
    }
  }
}
BENCHMARK_CAPTURE(BM_FirstInstall500FilesOver50msRoundTrip, http2, kDelayedPort)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// A curl config for the 498 small files under `base`, each saved under `dir`, which curl
// names as `dirName` (Wine's curl.exe sees the Linux root as Z:).
fs::path curlConfig(const fs::path& dir, const std::string& dirName, const std::string& base) {
  const fs::path config = dir / "urls.conf";
  fs::create_directories(dir / "data");
  std::ofstream out(config);
  for (int i = 0; i < kSmallFiles; ++i) {
    out << "url = \"" << base << "/launcher/" << smallName(i) << "\"\n"
        << "output = \"" << dirName << "/" << smallName(i) << "\"\n";
  }
  return config;
}

// `command` once an iteration, timed; the case is skipped with `failure` when it fails.
void timeCommand(benchmark::State& bench, const std::string& command, const char* failure) {
  for (auto _ : bench) {
    if (std::system(command.c_str()) != 0) {
      bench.SkipWithError(failure);
      break;
    }
  }
}

// The curl tool fetching the same 498 files with `options`.
void BM_CurlOver50msRoundTrip(benchmark::State& bench, int port, const char* options) {
  publishSmallTree();
  const fs::path dir = kBenchDir / "delayed-curl";
  const fs::path config = curlConfig(dir, dir.string(), delayedBase(port));
  timeCommand(bench,
              std::string("curl -sSf ") + options + " --cacert '" + test::caFile() + "' -K '" +
                  config.string() + "'",
              "curl failed");
}
BENCHMARK_CAPTURE(BM_CurlOver50msRoundTrip, http2_parallel100, kDelayedPort,
                  "--http2 --parallel --parallel-max 100")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// The Linux program itself: the bench build of it (vestrel-installer-bench), whose file server
// is delayedBase(), with settings naming `install` as its folder, on bench/run's X display.
// False (the case skipped) without a display.
bool linuxProgram(benchmark::State& bench, const fs::path& install, std::string& command) {
  if (std::getenv("DISPLAY") == nullptr) {
    bench.SkipWithError("no X display: bench/run starts one");
    return false;
  }
  publishSmallTree();
  command = bench::programCommand(VESTREL_BENCH_PROGRAM, kBenchDir / "program-config", install);
  return true;
}

// From its start to its exit after starting both programs, into an empty folder.
void BM_LinuxProgramFirstInstallOver50msRoundTrip(benchmark::State& bench) {
  const fs::path install = kBenchDir / "program-first";
  std::string command;
  if (!linuxProgram(bench, install, command)) {
    return;
  }
  for (auto _ : bench) {
    emptyFolderUntimed(bench, install);
    if (std::system(command.c_str()) != 0 || !fs::exists(install / "process.exe")) {
      bench.SkipWithError("the Linux program did not finish the install");
      break;
    }
  }
}
BENCHMARK(BM_LinuxProgramFirstInstallOver50msRoundTrip)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

BENCHMARK_CAPTURE(BM_FirstInstall500FilesOver50msRoundTrip, http1, kDelayedHttp1Port)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK_CAPTURE(BM_CurlOver50msRoundTrip, http1_parallel6, kDelayedHttp1Port,
                  "--http1.1 --parallel --parallel-max 6")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// The same folder again, already up to date: the whole way from start to launch.
void BM_UpToDateStartToLaunchOver50msRoundTrip(benchmark::State& bench) {
  publishSmallTree();
  const fs::path install = kBenchDir / "delayed-uptodate";
  if (!fs::exists(install / "process.exe")) {
    fs::create_directories(install);
    if (!bench::runEngine(delayedBase(), install)) {
      bench.SkipWithError("the first install did not finish");
      return;
    }
  }
  for (auto _ : bench) {
    if (!bench::runEngine(delayedBase(), install)) {
      bench.SkipWithError("the run did not finish");
      break;
    }
  }
}
BENCHMARK(BM_UpToDateStartToLaunchOver50msRoundTrip)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10);

// The Linux program on that folder, up to date, from its start to its exit: what a player
// waits for on every start.
void BM_LinuxProgramUpToDateOver50msRoundTrip(benchmark::State& bench) {
  const fs::path install = kBenchDir / "program-uptodate";
  std::string command;
  if (!linuxProgram(bench, install, command)) {
    return;
  }
  if (!fs::exists(install / "process.exe") && std::system(command.c_str()) != 0) {
    bench.SkipWithError("the first install failed");
    return;
  }
  timeCommand(bench, command, "the Linux program failed");
}
BENCHMARK(BM_LinuxProgramUpToDateOver50msRoundTrip)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10);

// The Windows program under Wine: a build of it that downloads through the delaying proxy
// (bench/run makes it, and starts a wineserver for it on its X display, when the Windows
// build is there), into a folder that its registry value names. The two programs are the
// Windows build's recording stand-in. False (the case skipped) without the Windows build.
bool windowsProgram(benchmark::State& bench, std::string& command, fs::path& install) {
  const char* exe = std::getenv("VESTREL_WINE_BENCH_EXE");
  const char* recorder = std::getenv("VESTREL_WINE_BENCH_RECORDER");
  const char* folder = std::getenv("VESTREL_WINE_BENCH_INSTALL");
  if (exe == nullptr || recorder == nullptr || folder == nullptr) {
    bench.SkipWithError("no Windows build: scripts/build-windows, then bench/run");
    return false;
  }
  std::ifstream in(recorder, std::ios::binary);
  publishTree(kWindowsTree, std::string(std::istreambuf_iterator<char>(in), {}));
  install = folder;
  const fs::path program = exe;
  command = "cd '" + program.parent_path().string() + "' && wine '" + program.filename().string() +
            "' >/dev/null 2>&1";
  return true;
}

// From its start to its end after starting both programs, into an empty folder.
void BM_WindowsProgramFirstInstallOver50msRoundTripUnderWine(benchmark::State& bench) {
  std::string command;
  fs::path install;
  if (!windowsProgram(bench, command, install)) {
    return;
  }
  for (auto _ : bench) {
    emptyFolderUntimed(bench, install);
    if (std::system(command.c_str()) != 0 || !fs::exists(install / "process.exe")) {
      bench.SkipWithError("the Windows program did not finish the install");
      break;
    }
  }
}
BENCHMARK(BM_WindowsProgramFirstInstallOver50msRoundTripUnderWine)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// Its peer: the curl tool built with the Windows program's libcurl (Schannel, nghttp2), under
// the same Wine, on the same 498 addresses (by name: Schannel checks names, not addresses).
void BM_WindowsCurlOver50msRoundTripUnderWine(benchmark::State& bench) {
  const char* curl = std::getenv("VESTREL_WINE_BENCH_CURL");
  if (curl == nullptr) {
    bench.SkipWithError("no curl.exe: scripts/build-windows builds it, then bench/run");
    return;
  }
  if (!fs::exists(test::serverRoot() / kWindowsTree)) {
    publishTree(kWindowsTree, kStandInProgram);
  }
  const fs::path dir = kBenchDir / "delayed-curl-wine";
  const std::string base =
      "https://localhost:" + std::to_string(kDelayedPort) + "/" + kWindowsTree + "/launcher";
  const fs::path config = curlConfig(dir, "Z:" + dir.string(), base);
  timeCommand(bench,
              "wine '" + std::string(curl) +
                  "' -sSf --http2 --parallel --parallel-max 100 --cacert 'Z:" + test::caFile() +
                  "' -K 'Z:" + config.string() + "'",
              "curl.exe failed");
}
BENCHMARK(BM_WindowsCurlOver50msRoundTripUnderWine)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// The same on a folder that is up to date, with the proxy settings of Internet Options
// (Connections\DefaultConnectionSettings) set to `flags`: 0x01 no proxy, 0x09 no proxy but
// auto-detection on, as Windows has it by default, on a network with nothing to detect.
void BM_WindowsProgramUpToDateOver50msRoundTripUnderWine(benchmark::State& bench, int flags) {
  std::string command;
  fs::path install;
  if (!windowsProgram(bench, command, install)) {
    return;
  }
  const std::string key =
      "'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections'";
  const std::string record = "4600000001000000" + formatted("%02x", flags) + std::string(6, '0') +
                             std::string(24 + 64, '0');
  const std::string set = "wine reg add " + key +
                          " /v DefaultConnectionSettings /t REG_BINARY /d " + record +
                          " /f >/dev/null 2>&1";
  if (std::system(set.c_str()) != 0 ||
      (!fs::exists(install / "process.exe") && std::system(command.c_str()) != 0)) {
    bench.SkipWithError("the proxy settings or the first install failed");
    return;
  }
  timeCommand(bench, command, "the Windows program failed");
  if (std::system(("wine reg delete " + key + " /f >/dev/null 2>&1").c_str()) != 0) {
    bench.SkipWithError("the proxy settings could not be removed");
  }
}
BENCHMARK_CAPTURE(BM_WindowsProgramUpToDateOver50msRoundTripUnderWine, no_proxy, 0x01)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10);
BENCHMARK_CAPTURE(BM_WindowsProgramUpToDateOver50msRoundTripUnderWine, auto_detect, 0x09)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10);

}  // namespace
}  // namespace vestrel
