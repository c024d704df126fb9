// Chunked releases: what the publisher's tool takes to cut and store a large file.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/RandomFile.h"

namespace vestrel {
namespace {

namespace fs = std::filesystem;

const fs::path kBenchDir = VESTREL_BENCH_DIR;

// `vestrel-publish make --sign --chunks` of a tree holding one 1 GiB file of random bytes,
// into an empty chunk store each time: at most 30 s.
void BM_PublishChunks1GiB(benchmark::State& bench) {
  const fs::path tree = kBenchDir / "chunks-tree";
  const fs::path key = kBenchDir / "chunks.secret";
  const std::string tool = VESTREL_PUBLISH_PROGRAM;
  if (!fs::exists(tree / "data" / "big.bin")) {
    bench::writeRandom(tree / "data" / "big.bin", std::size_t{1} << 30, 11);
  }
  if (!fs::exists(key) &&
      std::system(("'" + tool + "' keygen '" + key.string() + "' >/dev/null").c_str()) != 0) {
    bench.SkipWithError("no key");
    return;
  }
  const std::string command = "'" + tool + "' make '" + tree.string() + "' --sign '" +
                              key.string() + "' --chunks >/dev/null";
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

}  // namespace
}  // namespace vestrel
