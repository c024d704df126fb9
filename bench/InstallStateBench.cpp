#include <benchmark/benchmark.h>

#include <memory>

#include "update/InstallState.h"

namespace vestrel {
namespace {

// The queue is searched linearly for every walked file; this is its worst case.
void BM_QueueContainsFullQueue(benchmark::State& bench) {
  InstallState state;
  for (int i = 0; i < QueueCapacity; ++i) {
    queuePush(state, "/home/player/games/vestrel/data/file" + std::to_string(i) + ".bin");
  }
  for (auto _ : bench) {
    benchmark::DoNotOptimize(queueContains(state, "/home/player/games/vestrel/data/missing"));
  }
}
BENCHMARK(BM_QueueContainsFullQueue);

void BM_CompactQueue(benchmark::State& bench) {
  std::unique_ptr<InstallState> state;
  for (auto _ : bench) {
    bench.PauseTiming();
    state = std::make_unique<InstallState>();  // the last one goes while the clock stands
    for (int i = 0; i < QueueCapacity; ++i) {
      state->fileQueue[i] = i % 3 == 0 ? "" : "/r/" + std::to_string((i * 7919) % 1000);
    }
    bench.ResumeTiming();
    compactQueue(*state);
  }
}
BENCHMARK(BM_CompactQueue);

}  // namespace
}  // namespace vestrel
