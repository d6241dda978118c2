// Sample rates of the per-frame wavekit calls: a curve read with tablei, a
// waveform read with oscili and with Ooscili. Each run makes one second of
// frames at 44100 Hz, so "x_realtime" is how many such voices one core keeps up with.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "wavekit.h"

namespace {

constexpr int kRate = 44100;
constexpr int kTableSize = 1024;

std::vector<double> sineTable() {
  std::vector<double> t(kTableSize);
  for (int k = 0; k < kTableSize; ++k) t[k] = std::sin(6.283185307179586 * k / kTableSize);
  return t;
}

void reportRate(benchmark::State& state) {
  const double frames = static_cast<double>(state.iterations()) * kRate;
  state.counters["frames/s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
  state.counters["x_realtime"] = benchmark::Counter(frames / kRate, benchmark::Counter::kIsRate);
}

void tableiRate(benchmark::State& state) {
  std::vector<double> curve = sineTable();
  float tabs[2];
  tableset(kRate, 1.0f, kTableSize, tabs);
  for (auto _ : state) {
    double sum = 0.0;
    for (long i = 0; i < kRate; ++i) sum += tablei(i, curve.data(), tabs);
    benchmark::DoNotOptimize(sum);
  }
  reportRate(state);
}
BENCHMARK(tableiRate);

void osciliRate(benchmark::State& state) {
  std::vector<double> wave = sineTable();
  const float si = 440.0f * kTableSize / kRate;
  float phase = 0.0f;
  for (auto _ : state) {
    float sum = 0.0f;
    for (int i = 0; i < kRate; ++i) sum += oscili(0.5f, si, wave.data(), kTableSize, &phase);
    benchmark::DoNotOptimize(sum);
  }
  reportRate(state);
}
BENCHMARK(osciliRate);

void ooscilNextRate(benchmark::State& state) {
  std::vector<double> wave = sineTable();
  Ooscili osc(kRate, 440.0f, wave.data(), kTableSize);
  for (auto _ : state) {
    float sum = 0.0f;
    for (int i = 0; i < kRate; ++i) sum += osc.next();
    benchmark::DoNotOptimize(sum);
  }
  reportRate(state);
}
BENCHMARK(ooscilNextRate);

}  // namespace

BENCHMARK_MAIN();
