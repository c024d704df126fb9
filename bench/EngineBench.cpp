// The update engine against real files and the loopback HTTPS server, side by side with the
// command-line tools that do the same work (md5sum, curl).
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include "bench/BenchContext.h"
#include "bench/RandomFile.h"
#include "platform/Sha256.h"
#include "support/ErrorReport.h"
#include "support/Log.h"
#include "tests/LoneFetches.h"
#include "tests/TestServer.h"
#include "update/PrepareDirectories.h"
#include "update/VerifiedRecord.h"
#include "update/VerifyFiles.h"
#include "update/digest/Md5.h"
#include "update/lists/ReleaseFile.h"
#include "update/net/FileServer.h"

namespace vestrel {
namespace {

namespace fs = std::filesystem;
using bench::writeRandom;

constexpr int kFiles = 500;
constexpr std::size_t kTreeBytes = std::size_t{1} << 30;  // 1 GiB over 500 files
constexpr std::size_t kBigFile = std::size_t{256} << 20;  // 256 MiB

const fs::path kBenchDir = VESTREL_BENCH_DIR;
const std::string kTree = "bench-tree";

std::string fileName(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "data/part%03d.bin", i);
  return name;
}

fs::path serverFiles() {
  return test::serverRoot() / kTree / "launcher" / "launcher";
}

// The 1 GiB tree, on the server and already up to date in a local install folder.
const fs::path& upToDateTree() {
  static const fs::path local = [] {
    const fs::path dir = kBenchDir / "uptodate";
    const fs::path marker = dir / ".complete";
    if (!fs::exists(marker)) {
      fs::remove_all(dir);
      std::string files, hashes;
      for (int i = 0; i < kFiles; ++i) {
        const std::string digest =
            writeRandom(dir / fileName(i), kTreeBytes / kFiles, static_cast<std::uint64_t>(i));
        files += fileName(i) + "\n";
        hashes += digest + "\n";
      }
      std::ofstream(dir / "files.txt") << files;
      std::ofstream(dir / "hashes.txt") << hashes;
      std::ofstream(marker) << "ok";
    }
    // The lists go to the server; the files themselves stay local.
    fs::create_directories(serverFiles() / ".launcher");
    fs::copy_file(dir / "files.txt", serverFiles() / ".launcher" / "ufile.lists",
                  fs::copy_options::overwrite_existing);
    fs::copy_file(dir / "hashes.txt", serverFiles() / ".launcher" / "uhash.lists",
                  fs::copy_options::overwrite_existing);
    std::ofstream(serverFiles() / ".launcher" / "udirs.lists") << "data\n";
    return dir;
  }();
  return local;
}

std::string benchServer() {
  return test::httpsBase(kTree + "/launcher");
}

bool verifyUpToDateTree(const std::string& root) {
  bench::BenchContext fresh(benchServer());
  InstallState& state = fresh.get().state;
  setInstallFolder(state, root);
  return verifyFiles(state) && state.pendingCount == 0;
}

// The whole verification pass over the up-to-date tree, its lists fetched from the server. It
// hashes on one thread a processor, and should take at most 0.6 times as long as md5sum of
// the same files beside it (measured here, 2 cores: 925 ms against 2014 ms).
void BM_VerifyPassUpToDate(benchmark::State& bench) {
  const std::string root = upToDateTree().string() + "/";
  // One pass untimed, so that both this and md5sum read the files from the page cache.
  if (!verifyUpToDateTree(root)) {
    bench.SkipWithError("the tree is not up to date");
    return;
  }
  for (auto _ : bench) {
    if (!verifyUpToDateTree(root)) {
      bench.SkipWithError("the tree is not up to date");
      break;
    }
  }
  bench.SetBytesProcessed(static_cast<std::int64_t>(bench.iterations() * kTreeBytes));
}
BENCHMARK(BM_VerifyPassUpToDate)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

// Times the md5sum `command` once an iteration, after one run untimed (the files then come
// from the page cache, as for the verification pass beside it).
void timeMd5sum(benchmark::State& bench, const std::string& command) {
  if (std::system(command.c_str()) != 0) {
    bench.SkipWithError("md5sum failed");
    return;
  }
  for (auto _ : bench) {
    if (std::system(command.c_str()) != 0) {
      bench.SkipWithError("md5sum failed");
      break;
    }
  }
}

void BM_Md5sumSameTree(benchmark::State& bench) {
  const fs::path dir = upToDateTree();
  std::string command = "cd '" + dir.string() + "' && md5sum --";
  for (int i = 0; i < kFiles; ++i) {
    command += " " + fileName(i);
  }
  command += " > /dev/null";
  timeMd5sum(bench, command);
  bench.SetBytesProcessed(static_cast<std::int64_t>(bench.iterations() * kTreeBytes));
}
BENCHMARK(BM_Md5sumSameTree)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

// ---- A game's install: many files, confirmed from the last run's record ----------------

// `files` files of `bytes` in all, in 100 folders, up to date in a local folder; the server
// has the lists only (under a tree of its own). Returns the local folder.
fs::path gameTree(int files, std::size_t bytes) {
  const std::string name = "game-" + std::to_string(files);
  const fs::path dir = kBenchDir / name;
  const fs::path server = test::serverRoot() / ("bench-" + name) / "launcher" / "launcher";
  if (!fs::exists(dir / ".complete")) {
    fs::remove_all(dir);
    std::string list, hashes, folders = "data\n";
    for (int d = 0; d < 100; ++d) {
      folders += "data/d" + std::to_string(d) + "\n";
    }
    for (int i = 0; i < files; ++i) {
      const std::string file =
          "data/d" + std::to_string(i % 100) + "/f" + std::to_string(i) + ".bin";
      hashes += writeRandom(dir / file, bytes / files, static_cast<std::uint64_t>(i)) + "\n";
      list += file + "\n";
    }
    std::ofstream(dir / "folders.txt") << folders;
    std::ofstream(dir / "files.txt") << list;
    std::ofstream(dir / "hashes.txt") << hashes;
    std::ofstream(dir / ".complete") << "ok";
  }
  fs::create_directories(server / ".launcher");
  for (const auto& [from, to] : {std::pair{"folders.txt", "udirs.lists"},
                                 {"files.txt", "ufile.lists"},
                                 {"hashes.txt", "uhash.lists"}}) {
    fs::copy_file(dir / from, server / ".launcher" / to, fs::copy_options::overwrite_existing);
  }
  return dir;
}

std::string gameServer(int files) {
  return test::httpsBase("bench-game-" + std::to_string(files) + "/launcher");
}

// One verification pass over the game tree; with `keep`, the record of it is written.
bool verifyGameTree(int files, const fs::path& dir, bool keep) {
  bench::BenchContext fresh(gameServer(files));
  InstallState& state = fresh.get().state;
  setInstallFolder(state, dir.string() + "/");
  const bool upToDate = verifyFiles(state) && state.pendingCount == 0;
  if (upToDate && keep) {
    saveVerifiedRecord(state);
  }
  return upToDate;
}

constexpr int kGameFiles = 20000;
constexpr std::size_t kGameBytes = std::size_t{2} << 30;

// The verification pass over an unchanged 20,000-file, 2 GiB install, with the record of the
// last pass (target: at most 0.5 s) and without it (target: at most 0.6 times md5sum of the
// same files, beside it).
void BM_VerifyGameTree(benchmark::State& bench, bool withRecord) {
  const fs::path dir = gameTree(kGameFiles, kGameBytes);
  fs::remove(dir / kStateFileName);
  // One pass untimed: the files in the page cache, and the record written when wanted.
  if (!verifyGameTree(kGameFiles, dir, withRecord)) {
    bench.SkipWithError("the tree is not up to date");
    return;
  }
  for (auto _ : bench) {
    if (!verifyGameTree(kGameFiles, dir, false)) {
      bench.SkipWithError("the tree is not up to date");
      break;
    }
  }
}
BENCHMARK_CAPTURE(BM_VerifyGameTree, with_record, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);
BENCHMARK_CAPTURE(BM_VerifyGameTree, without_record, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

void BM_Md5sumGameTree(benchmark::State& bench) {
  const std::string command = "cd '" + gameTree(kGameFiles, kGameBytes).string() +
                              "' && find data -type f -print0 | xargs -0 md5sum > /dev/null";
  timeMd5sum(bench, command);
}
BENCHMARK(BM_Md5sumGameTree)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// One figure (kB) of /proc/self/status: "VmRSS" now, "VmHWM" the peak so far.
double statusKiB(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) {
      return std::stod(line.substr(field.size() + 1));
    }
  }
  return 0;
}

// How far a whole run over `dir` raised the resident memory above where it started, in a
// child process so that neither the parent's heap nor what it inherits counts; 0 when the
// run did not finish.
double runPeakMiB(int files, const fs::path& dir) {
  int pipe[2];
  if (::pipe(pipe) != 0) {
    return 0;
  }
  const pid_t child = ::fork();
  if (child == 0) {
    const double start = statusKiB("VmRSS");
    const bool finished = bench::runEngine(gameServer(files), dir);
    const double grown = finished ? (statusKiB("VmHWM") - start) / 1024.0 : 0;
    std::_Exit(::write(pipe[1], &grown, sizeof grown) == sizeof grown ? 0 : 1);
  }
  ::close(pipe[1]);
  double grown = 0;
  if (::read(pipe[0], &grown, sizeof grown) != sizeof grown) {
    grown = 0;
  }
  ::close(pipe[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? grown : 0;
}

// The peak memory of a whole run over an up-to-date install of `files` listed files (1 KiB
// each), with its record: 100,000 files may take at most 48 MiB more than 500.
void BM_UpToDateRunPeakMemory(benchmark::State& bench) {
  const int files = static_cast<int>(bench.range(0));
  const fs::path dir = gameTree(files, static_cast<std::size_t>(files) << 10);
  fs::remove(dir / kStateFileName);
  if (runPeakMiB(files, dir) == 0) {  // writes the record
    bench.SkipWithError("the first run did not finish");
    return;
  }
  for (auto _ : bench) {
    const double peak = runPeakMiB(files, dir);
    if (peak == 0) {
      bench.SkipWithError("the run did not finish");
      break;
    }
    bench.counters["grown_MiB"] = peak;
  }
}
BENCHMARK(BM_UpToDateRunPeakMemory)
    ->Arg(500)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

// The Linux program over an unchanged install of the 20,000 files and the two programs, from
// its start to its exit, with the record of the last run: at most 1 s (on bench/run's X
// display, the loopback server answering).
void BM_GameProgramUpToDateStartToExit(benchmark::State& bench) {
  if (std::getenv("DISPLAY") == nullptr) {
    bench.SkipWithError("no X display: bench/run starts one");
    return;
  }
  const fs::path source = gameTree(kGameFiles, kGameBytes);
  const fs::path install = kBenchDir / "game-program";
  const std::string program = "#!/bin/sh\n";  // started at the end, and ends at once
  if (!fs::exists(kBenchDir / "game-program.complete")) {
    fs::remove_all(install);
    fs::create_directories(install);
    fs::copy(source / "data", install / "data",
             fs::copy_options::recursive | fs::copy_options::create_hard_links);
    for (const char* name : {"updateTool.exe", "process.exe"}) {
      std::ofstream(install / name) << program;
      fs::permissions(install / name, fs::perms::owner_all, fs::perm_options::add);
    }
    std::ofstream(kBenchDir / "game-program.complete") << "ok";
  }
  const fs::path lists =
      test::serverRoot() / "bench-game-program" / "launcher" / "launcher" / ".launcher";
  fs::create_directories(lists);
  const auto text = [&source](const char* name) {
    std::ifstream in(source / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  Md5 md5;
  md5.add(program.data(), program.size());
  std::ofstream(lists / "udirs.lists") << text("folders.txt");
  std::ofstream(lists / "ufile.lists") << text("files.txt") << "updateTool.exe\nprocess.exe\n";
  std::ofstream(lists / "uhash.lists") << text("hashes.txt") << md5.finishText() << "\n";
  const std::string command =
      bench::programCommand(VESTREL_GAME_BENCH_PROGRAM, kBenchDir / "game-program-config", install);
  if (std::system(command.c_str()) != 0) {  // untimed: writes the record
    bench.SkipWithError("the first run failed");
    return;
  }
  for (auto _ : bench) {
    if (std::system(command.c_str()) != 0) {
      bench.SkipWithError("the program failed");
      break;
    }
  }
}
BENCHMARK(BM_GameProgramUpToDateStartToExit)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

// The big file's address; `digest` receives its MD5.
const std::string& bigFileUrl(std::string* digest = nullptr) {
  static std::string md5;
  static const std::string url = [] {
    const fs::path path = serverFiles() / "big.bin";
    md5 = writeRandom(path, kBigFile, 42);
    return test::httpsBase(kTree + "/launcher/launcher/big.bin");
  }();
  if (digest != nullptr) {
    *digest = md5;
  }
  return url;
}

// The product's fetch: the body is hashed as it is written to its temporary name, checked
// against the digests and renamed over the old file. It should keep at least 0.9 times the
// rate of BM_CurlCommand256MiB (measured here: 279 MB/s against 288 MB/s). With a signed
// release (`inRelease`) the body is held to its length and hashed with SHA-256 too, which may
// cost at most a tenth more than without (measured here: 774 ms against 729 ms).
void fetchBigFile(benchmark::State& bench, bool inRelease) {
  bench::BenchContext fresh(benchServer());
  std::string digest;
  bigFileUrl(&digest);
  const fs::path dir = kBenchDir / "fetch";
  fs::create_directories(dir);
  const std::string root = dir.string() + "/";
  InstallState& state = fresh.get().state;
  setInstallFolder(state, root);
  digestPush(state, digest);
  if (inRelease) {
    std::ifstream in(serverFiles() / "big.bin", std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    auto release = std::make_shared<AcceptedRelease>();
    release->files[root + "big.bin"] = {"big.bin", bytes.size(),
                                        platform::sha256Text(bytes.data(), bytes.size()), digest};
    state.release = std::move(release);
  }
  for (auto _ : bench) {
    if (!fetchFile(state, root + "big.bin", root + "big.bin")) {
      bench.SkipWithError("fetch failed");
      break;
    }
  }
  state.release.reset();
  bench.SetBytesProcessed(static_cast<std::int64_t>(bench.iterations() * kBigFile));
}

void BM_FetchFile256MiB(benchmark::State& bench) {
  fetchBigFile(bench, false);
}
BENCHMARK(BM_FetchFile256MiB)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

void BM_SignedFetchFile256MiB(benchmark::State& bench) {
  fetchBigFile(bench, true);
}
BENCHMARK(BM_SignedFetchFile256MiB)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

// The same transfer with nothing but the write: what the check is measured against.
void BM_FetchAlone256MiB(benchmark::State& bench) {
  const std::string url = bigFileUrl();
  const fs::path local = kBenchDir / "fetch" / "big-alone.bin";
  fs::create_directories(local.parent_path());
  for (auto _ : bench) {
    std::FILE* file = std::fopen(local.c_str(), "wb");
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, test::caFile().c_str());
    curl_easy_setopt(
        curl, CURLOPT_WRITEFUNCTION,
        +[](char* data, std::size_t size, std::size_t count, void* out) {
          return std::fwrite(data, size, count, static_cast<std::FILE*>(out));
        });
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, file);
    const CURLcode result = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    const bool closed = std::fclose(file) == 0;
    if (result != CURLE_OK || !closed) {
      bench.SkipWithError("fetch failed");
      break;
    }
  }
  bench.SetBytesProcessed(static_cast<std::int64_t>(bench.iterations() * kBigFile));
}
BENCHMARK(BM_FetchAlone256MiB)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

void BM_CurlCommand256MiB(benchmark::State& bench) {
  const fs::path dir = kBenchDir / "fetch";
  fs::create_directories(dir);
  const std::string command = "curl -sSf --cacert '" + test::caFile() + "' -o '" +
                              (dir / "big-curl.bin").string() + "' '" + bigFileUrl() + "'";
  for (auto _ : bench) {
    if (std::system(command.c_str()) != 0) {
      bench.SkipWithError("curl failed");
      break;
    }
  }
  bench.SetBytesProcessed(static_cast<std::int64_t>(bench.iterations() * kBigFile));
}
BENCHMARK(BM_CurlCommand256MiB)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

// A whole run into an empty folder (prepare, verify, download 500 files of 1 GiB), in a child
// process so that its peak resident memory can be read on its own.
void BM_FullRunPeakMemory(benchmark::State& bench) {
  const fs::path source = upToDateTree();
  // The server serves the same tree this time.
  for (int i = 0; i < kFiles; ++i) {
    const fs::path target = serverFiles() / fileName(i);
    if (!fs::exists(target)) {
      fs::create_directories(target.parent_path());
      fs::create_hard_link(source / fileName(i), target);
    }
  }
  const fs::path install = kBenchDir / "fullrun";
  for (auto _ : bench) {
    fs::remove_all(install);
    fs::create_directories(install);
    const pid_t child = ::fork();
    if (child == 0) {
      std::_Exit(bench::runEngine(benchServer(), install) ? 0 : 1);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      bench.SkipWithError("the run did not finish");
      break;
    }
    bench.counters["peak_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
  }
}
BENCHMARK(BM_FullRunPeakMemory)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
}  // namespace vestrel
