#include <benchmark/benchmark.h>

#include <memory>

#include "update/InstallState.h"

namespace vestrel {
namespace {

constexpr int kGameFiles = 100000;

// The walk looks every entry up in the queue; a game's queue must not make that a search.
void BM_QueueContainsGameSizedQueue(benchmark::State& bench) {
  InstallState state;
  for (int i = 0; i < kGameFiles; ++i) {
    queuePush(state, "/home/player/games/vestrel/data/file" + std::to_string(i) + ".bin");
  }
  for (auto _ : bench) {
    benchmark::DoNotOptimize(queueContains(state, "/home/player/games/vestrel/data/missing"));
  }
}
BENCHMARK(BM_QueueContainsGameSizedQueue);

void BM_CompactGameSizedQueue(benchmark::State& bench) {
  std::unique_ptr<InstallState> state;
  for (auto _ : bench) {
    bench.PauseTiming();
    state = std::make_unique<InstallState>();  // the last one goes while the clock stands
    for (int i = 0; i < kGameFiles; ++i) {
      queuePush(*state, "/r/" + std::to_string((i * 7919) % kGameFiles));
      if (i % 3 == 0) {
        state->fileQueue.back().clear();
      }
    }
    bench.ResumeTiming();
    compactQueue(*state);
  }
}
BENCHMARK(BM_CompactGameSizedQueue)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vestrel
