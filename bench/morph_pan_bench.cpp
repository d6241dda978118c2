// MORPHOSC and TETRAPOS speed on 60 s notes, reported as a multiple of real
// time (seconds of audio rendered per second of wall time).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "Engine.h"
#include "wavekit.h"

using namespace vemora;

namespace {

constexpr int kRate = 44100;
constexpr double kSeconds = 60.0;
constexpr int64_t kFrames = int64_t(kSeconds) * kRate;

class NullSink : public OutputSink {
 public:
  void write(const float* interleaved, int frames) override {
    benchmark::DoNotOptimize(interleaved);
    written += frames;
  }
  int64_t written = 0;
};

std::unique_ptr<Engine> makeEngine(int channels) {
  EngineSettings settings;
  settings.channels = channels;
  auto engine = std::make_unique<Engine>(settings);
  engine->setEchoMessages(false);
  return engine;
}

int64_t renderedFrames(Engine& engine) {
  NullSink sink;
  engine.render(sink);
  return sink.written;
}

void reportSpeed(benchmark::State& state) {
  state.counters["x_realtime"] = benchmark::Counter(kSeconds * double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["frames_per_s"] =
      benchmark::Counter(kSeconds * kRate * double(state.iterations()), benchmark::Counter::kIsRate);
}

// One stereo note through four waveforms of different lengths (sine, odd
// harmonics, all harmonics, a single high partial) while the morph sweeps
// 0 -> 1 -> 0 and the pitch glides, so every interval and every refresh path
// is taken.
void BM_MorphoscFourTablesMovingMorph(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto engine = makeEngine(2);
    engine->load("MORPHOSC");
    std::vector<PField> p = {0,
                             kSeconds,
                             engine->makePFieldTable(7, 1000, {220, 1000, 330}),
                             0.3,
                             engine->makePFieldTable(7, 1000, {0, 500, 1, 500, 0}),
                             0.6};
    p.push_back(engine->makePFieldTable(10, 1024, {1}));
    p.push_back(engine->makePFieldTable(10, 2048, {1, 0, 0.33, 0, 0.2, 0, 0.14}));
    p.push_back(engine->makePFieldTable(10, 4096, {1, 0.5, 0.33, 0.25, 0.2, 0.17, 0.14, 0.12}));
    p.push_back(engine->makePFieldTable(10, 512, {0, 0, 0, 0, 0, 0, 1}));
    const bool placed = engine->playNote("MORPHOSC", p);
    state.ResumeTiming();
    if (!placed || renderedFrames(*engine) != kFrames) return state.SkipWithError("MORPHOSC did not play its note");
  }
  reportSpeed(state);
}
BENCHMARK(BM_MorphoscFourTablesMovingMorph)->Unit(benchmark::kMillisecond)->UseRealTime();

// 60 s of mono input to four channels, the source circling the field.
void BM_TetraposMonoToFourChannels(benchmark::State& state) {
  srrand(1);
  std::vector<float> input(size_t(kSeconds * kRate));
  for (float& sample : input) sample = float(rrand()) * 0.5f;
  for (auto _ : state) {
    state.PauseTiming();
    auto engine = makeEngine(4);
    engine->load("TETRAPOS");
    engine->setInput(memorySoundInput(input, 1, kRate));
    TablePtr x = engine->makePFieldTable(9, 4000, {8, 1, 90});
    TablePtr y = engine->makePFieldTable(9, 4000, {8, 1, 0});
    const bool placed = engine->playNote("TETRAPOS", {0, 0, kSeconds, 0.8, x, y});
    state.ResumeTiming();
    if (!placed || renderedFrames(*engine) != kFrames) return state.SkipWithError("TETRAPOS did not play its note");
  }
  reportSpeed(state);
}
BENCHMARK(BM_TetraposMonoToFourChannels)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
