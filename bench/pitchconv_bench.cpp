// Conversion rates of cpspch, the pitch call of the pitched instruments, and of
// octlet, the letter-name parser.
#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>

#include "pitchconv.h"

namespace {

void cpspchRate(benchmark::State& state) {
  std::array<double, 64> pitches{};
  for (std::size_t i = 0; i < pitches.size(); ++i) {
    pitches[i] = 4.0 + static_cast<double>(i / 12) + static_cast<double>(i % 12) / 100.0;
  }
  std::size_t next = 0;
  for (auto _ : state) {
    double pch = pitches[next++ & 63];
    benchmark::DoNotOptimize(pch);
    benchmark::DoNotOptimize(cpspch(pch));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(cpspchRate);

void octletRate(benchmark::State& state) {
  const std::array<const char*, 8> names = {"A4", "C#4", "Cbb4", "B#4", "A4 -100", "C4 50", " E b 3 ", "Gx2 +25"};
  std::size_t next = 0;
  for (auto _ : state) {
    const char* name = names[next++ & 7];
    benchmark::DoNotOptimize(name);
    benchmark::DoNotOptimize(octlet(name));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(octletRate);

}  // namespace

BENCHMARK_MAIN();
