// Engine and PAN speed, reported as a multiple of real time (seconds of
// audio rendered per second of CPU).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "Engine.h"
#include "wavekit.h"

using namespace vemora;

namespace {

constexpr int kRate = 44100;

class NullSink : public OutputSink {
 public:
  void write(const float* interleaved, int frames) override {
    benchmark::DoNotOptimize(interleaved);
    written += frames;
  }
  int64_t written = 0;
};

std::unique_ptr<Engine> makeEngine() {
  auto engine = std::make_unique<Engine>();
  engine->setEchoMessages(false);
  engine->addPluginPath(VEMORA_TEST_PLUGIN_DIR);
  return engine;
}

std::vector<float> noise(int64_t frames) {
  srrand(1);
  std::vector<float> data(static_cast<size_t>(frames));
  for (float& sample : data) sample = float(rrand()) * 0.5f;
  return data;
}

void reportSpeed(benchmark::State& state, double audioSecondsPerIteration) {
  state.counters["x_realtime"] =
      benchmark::Counter(audioSecondsPerIteration * double(state.iterations()), benchmark::Counter::kIsRate);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_MB"] = double(usage.ru_maxrss) / 1024.0;
}

// 60 s of mono input panned to stereo along a table, with an amplitude curve.
void BM_PanSixtySeconds(benchmark::State& state) {
  const std::vector<float> input = noise(int64_t(60) * kRate);
  for (auto _ : state) {
    state.PauseTiming();
    auto engine = makeEngine();
    engine->load("PAN");
    engine->setInput(memorySoundInput(input, 1, kRate));
    engine->makeTable(1, 7, 1000, {0, 100, 1, 800, 1, 100, 0});
    engine->makeTable(2, 7, 1000, {1, 1000, 0});
    engine->playNote("PAN", {0, 0, 60, 1, 0, 0});
    NullSink sink;
    state.ResumeTiming();
    engine->render(sink);
    benchmark::DoNotOptimize(sink.written);
  }
  reportSpeed(state, 60.0);
}
BENCHMARK(BM_PanSixtySeconds)->Unit(benchmark::kMillisecond)->UseRealTime();

// 20,000 notes of 10 ms, one every 3 ms (60 s): the engine's cost per note.
// Argument 0: an instrument that writes nothing; 1: PAN.
void BM_TwentyThousandShortNotes(benchmark::State& state) {
  const bool pan = state.range(0) == 1;
  const std::vector<float> input = noise(int64_t(61) * kRate);
  constexpr int kNotes = 20000;
  for (auto _ : state) {
    auto engine = makeEngine();
    engine->load(pan ? "PAN" : "FRAMEPROBE");
    engine->setInput(memorySoundInput(input, 1, kRate));
    for (int i = 0; i < kNotes; ++i) {
      const double start = i * 0.003;
      if (pan)
        engine->playNote("PAN", {start, start, 0.010, 0.1, 0, 0, (i % 64) / 63.0});
      else
        engine->playNote("FRAMEPROBE", {start, 0.010, 1});
    }
    NullSink sink;
    engine->render(sink);
    benchmark::DoNotOptimize(sink.written);
  }
  // Inverted rate: elapsed seconds / (notes x 1e-6) = microseconds per note.
  state.counters["us_per_note"] = benchmark::Counter(
      double(kNotes) * 1e-6, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  reportSpeed(state, kNotes * 0.003);
}
BENCHMARK(BM_TwentyThousandShortNotes)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
