// Chunked releases: what the publisher's tool takes to cut and store a large file, and what an
// install or an update through chunks costs the player against the whole-file path.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include <unistd.h>

#include "bench/BenchContext.h"
#include "bench/RandomFile.h"
#include "tests/TestServer.h"

namespace vestrel {
namespace {

namespace fs = std::filesystem;

const fs::path kBenchDir = VESTREL_BENCH_DIR;
const fs::path kKeys = VESTREL_TEST_KEYS_DIR;
constexpr std::size_t kGiB = std::size_t{1} << 30;
constexpr std::size_t kMiB = std::size_t{1} << 20;

std::string shellWord(const fs::path& path) {
  return "'" + path.string() + "'";
}

// `vestrel-publish make --sign --chunks` of a tree holding one 1 GiB file of random bytes,
// into an empty chunk store each time: at most 30 s.
void BM_PublishChunks1GiB(benchmark::State& bench) {
  const fs::path tree = kBenchDir / "chunks-tree";
  const fs::path key = kBenchDir / "chunks.secret";
  const std::string tool = VESTREL_PUBLISH_PROGRAM;
  if (!fs::exists(tree / "data" / "big.bin")) {
    bench::writeRandom(tree / "data" / "big.bin", kGiB, 11);
  }
  if (!fs::exists(key) &&
      std::system((shellWord(tool) + " keygen " + shellWord(key) + " >/dev/null").c_str()) != 0) {
    bench.SkipWithError("no key");
    return;
  }
  const std::string command = shellWord(tool) + " make " + shellWord(tree) + " --sign " +
                              shellWord(key) + " --chunks >/dev/null";
  for (auto _ : bench) {
    bench.PauseTiming();
    fs::remove_all(tree / ".launcher");
    bench.ResumeTiming();
    if (std::system(command.c_str()) != 0) {
      bench.SkipWithError("make failed");
      break;
    }
  }
}
BENCHMARK(BM_PublishChunks1GiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// A tree on the test server holding data/big.bin, published and signed with the tests' first
// key, and a keyed engine that installs it.
class ServedTree {
 public:
  explicit ServedTree(const std::string& name)
      : name_(name), root_(test::serverRoot() / name / "launcher" / "launcher") {
    fs::create_directories(root_ / "data");
  }

  fs::path file() const { return root_ / "data" / "big.bin"; }

  // A new release of the tree as it stands; false when the tool failed.
  bool publish(bool chunks) {
    const std::string command = shellWord(VESTREL_PUBLISH_PROGRAM) + " make " + shellWord(root_) +
                                " --sign " + shellWord(kKeys / "first.secret") + " --serial " +
                                std::to_string(++serial_) + (chunks ? " --chunks" : "") +
                                " >/dev/null";
    return std::system(command.c_str()) == 0;
  }

  // A run into `install`; `sent` receives the body bytes the server sent for it.
  bool install(const fs::path& install, std::uint64_t* sent = nullptr) const {
    std::ifstream in(kKeys / "first.public");
    std::string key;
    std::getline(in, key);
    const std::uintmax_t before = logSize();
    const bool ran = bench::runEngine(test::httpsBase(name_ + "/launcher"), install, key);
    if (sent != nullptr) {
      *sent = sentSince(before);
    }
    return ran;
  }

 private:
  static fs::path log() { return test::serverEnvDir() / "nginx-access.log"; }

  static std::uintmax_t logSize() {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(log(), error);
    return error ? 0 : size;
  }

  // nginx logs an answer once it has sent it, which may be a moment after the program has it:
  // the log is read once it has stopped growing.
  std::uint64_t sentSince(std::uintmax_t offset) const {
    for (std::uintmax_t size = logSize();;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      const std::uintmax_t now = logSize();
      if (now == size) {
        break;
      }
      size = now;
    }
    std::ifstream in(log());
    in.seekg(static_cast<std::streamoff>(offset));
    std::stringstream text;
    text << in.rdbuf();
    const std::string all = text.str();
    const std::regex answer("\"GET /" + name_ + "/\\S+ [^\"]*\" 20[06] (\\d+) ");
    std::uint64_t sent = 0;
    for (std::sregex_iterator it(all.begin(), all.end(), answer), end; it != end; ++it) {
      sent += std::stoull((*it)[1]);
    }
    return sent;
  }

  std::string name_;
  fs::path root_;
  int serial_ = 0;
};

double mebibytes(std::uint64_t bytes) {
  return static_cast<double>(bytes) / static_cast<double>(kMiB);
}

// Empties `install` and waits until what the publisher or the last run left to be written
// out is on disk: that is not the next run's to wait on.
void emptyInstall(const fs::path& install) {
  fs::remove_all(install);
  fs::create_directories(install);
  ::sync();
}

// A timed run into `install` emptied first (untimed); false, with the benchmark skipped, when
// it did not finish.
bool freshInstall(benchmark::State& bench, const ServedTree& tree, const fs::path& install,
                  std::uint64_t* sent = nullptr) {
  bench.PauseTiming();
  emptyInstall(install);
  bench.ResumeTiming();
  if (!tree.install(install, sent)) {
    bench.SkipWithError("the install did not finish");
    return false;
  }
  return true;
}

// A first install of 1 GiB of random bytes from the same server, whole and through chunks in
// turn in every iteration, so that both meet the machine in the same state: through chunks
// it may take at most 1.15 times as long (chunks_over_whole).
void BM_FirstInstall1GiB(benchmark::State& bench) {
  ServedTree whole("bench-first-whole");
  ServedTree chunked("bench-first-chunks");
  const fs::path install = kBenchDir / "first-install";
  for (ServedTree* tree : {&whole, &chunked}) {
    if (!fs::exists(tree->file())) {
      bench::writeRandom(tree->file(), kGiB, 21);
    }
    // An untimed install first, so that the server answers both from memory: the figure is
    // the program's, not the server's disk's.
    emptyInstall(install);
    if (!tree->publish(tree == &chunked) || !tree->install(install)) {
      bench.SkipWithError("the tree could not be published and installed");
      return;
    }
  }
  double seconds[2] = {0, 0};
  for (auto _ : bench) {
    double both = 0;
    for (const int path : {0, 1}) {
      emptyInstall(install);
      const auto start = std::chrono::steady_clock::now();
      if (!(path == 0 ? whole : chunked).install(install)) {
        bench.SkipWithError("the install did not finish");
        return;
      }
      const std::chrono::duration<double> taken = std::chrono::steady_clock::now() - start;
      seconds[path] += taken.count();
      both += taken.count();
    }
    bench.SetIterationTime(both);
  }
  fs::remove_all(install);
  const double runs = static_cast<double>(bench.iterations());
  bench.counters["whole_ms"] = seconds[0] * 1000 / runs;
  bench.counters["chunks_ms"] = seconds[1] * 1000 / runs;
  bench.counters["chunks_over_whole"] = seconds[1] / seconds[0];
}
BENCHMARK(BM_FirstInstall1GiB)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(4);

// Rewrites `size` bytes of `path` at `offset` with random bytes.
void overwrite(const fs::path& path, std::size_t offset, std::size_t size) {
  const fs::path patch = kBenchDir / "patch.bin";
  bench::writeRandom(patch, size, 99);
  std::ifstream in(patch, std::ios::binary);
  std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
  out.seekp(static_cast<std::streamoff>(offset));
  out << in.rdbuf();
}

// Puts one byte before the first of `path`.
void insertAtStart(const fs::path& path) {
  const fs::path moved = path.string() + ".old";
  fs::rename(path, moved);
  {
    std::ifstream in(moved, std::ios::binary);
    std::ofstream out(path, std::ios::binary);
    out << '!' << in.rdbuf();
  }
  fs::remove(moved);
}

// 1 GiB of random bytes installed through chunks; the next release rewrites 10 MiB in one
// place (the update may fetch at most 11.5 MiB, its index included), the one after puts a byte
// before the first (at most 1 MiB). Timed: the two updates.
void BM_ChunkedUpdates1GiB(benchmark::State& bench) {
  ServedTree tree("bench-updates");
  const fs::path install = kBenchDir / "updates-install";
  for (auto _ : bench) {
    bench.PauseTiming();
    bench::writeRandom(tree.file(), kGiB, 31);
    fs::remove_all(install);
    fs::create_directories(install);
    if (!tree.publish(true) || !tree.install(install)) {
      bench.SkipWithError("the first install did not finish");
      break;
    }
    overwrite(tree.file(), 400 * kMiB, 10 * kMiB);
    std::uint64_t changed = 0;
    std::uint64_t inserted = 0;
    const bool published = tree.publish(true);
    bench.ResumeTiming();
    const bool updated = published && tree.install(install, &changed);
    bench.PauseTiming();
    insertAtStart(tree.file());
    const bool republished = tree.publish(true);
    bench.ResumeTiming();
    if (!updated || !republished || !tree.install(install, &inserted)) {
      bench.SkipWithError("an update did not finish");
      break;
    }
    bench.counters["changed_10MiB_fetched_MiB"] = mebibytes(changed);
    bench.counters["inserted_byte_fetched_MiB"] = mebibytes(inserted);
  }
  fs::remove_all(install);
}
BENCHMARK(BM_ChunkedUpdates1GiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// 256 MiB of text as games ship it (settings, scripts, tables), installed through chunks: the
// server may send at most half of it.
void BM_CompressibleInstall256MiB(benchmark::State& bench) {
  ServedTree tree("bench-text");
  const fs::path install = kBenchDir / "text-install";
  if (!fs::exists(tree.file())) {
    static const char* const kWords[] = {"entity", "position", "health", "armor",   "speed",
                                         "target", "weapon",   "model",  "texture", "sound",
                                         "spawn",  "trigger",  "script", "quest",   "dialog"};
    std::ofstream out(tree.file(), std::ios::binary);
    std::uint64_t x = 7;
    for (std::size_t written = 0; written < 256 * kMiB;) {
      x = x * 6364136223846793005ull + 1442695040888963407ull;
      const std::string line = std::string(kWords[(x >> 33) % 15]) + "_" +
                               std::to_string((x >> 20) % 5000) + "." + kWords[(x >> 45) % 15] +
                               " = " + std::to_string((x >> 8) % 100000) + "\n";
      out << line;
      written += line.size();
    }
  }
  if (!tree.publish(true)) {
    bench.SkipWithError("make failed");
    return;
  }
  for (auto _ : bench) {
    std::uint64_t sent = 0;
    if (!freshInstall(bench, tree, install, &sent)) {
      break;
    }
    bench.counters["sent_ratio"] =
        static_cast<double>(sent) / static_cast<double>(fs::file_size(tree.file()));
  }
  fs::remove_all(install);
}
BENCHMARK(BM_CompressibleInstall256MiB)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace
}  // namespace vestrel
