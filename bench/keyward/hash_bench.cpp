// One password verification at the store's cost should take roughly 50 to
// 150 ms on the target machine: slow for guessing, quick for a login.
#include <benchmark/benchmark.h>

#include "password.h"

namespace {

void verifyAtCost(benchmark::State& state) {
    const auto cost = static_cast<unsigned long>(state.range(0));
    const auto hash = keyward::hashPassword("correct horse", cost);
    if (!hash) {
        state.SkipWithError("hashing failed");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(keyward::verifyPassword("correct horse", *hash));
}

}  // namespace

BENCHMARK(verifyAtCost)
    ->Arg(static_cast<long>(keyward::kDefaultHashCost) - 1)
    ->Arg(static_cast<long>(keyward::kDefaultHashCost))
    ->Arg(static_cast<long>(keyward::kDefaultHashCost) + 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
