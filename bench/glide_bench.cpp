// SHIFTGLIDE and FAUXGLIDE speed: 60 s of mono 44.1 kHz input played
// through once, transposed up seven semitones, to a stereo output. Reported
// as multiples of real time: x_realtime counts the seconds of output rendered
// per second of wall time, input_x_realtime the seconds of input consumed.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Engine.h"
#include "wavekit.h"

using namespace vemora;

namespace {

constexpr int kRate = 44100;
constexpr double kInputSeconds = 60.0;
constexpr double kOctaves = 7.0 / 12.0;

class NullSink : public OutputSink {
 public:
  void write(const float* interleaved, int frames) override {
    benchmark::DoNotOptimize(interleaved);
    written += frames;
  }
  int64_t written = 0;
};

std::vector<float> noise(int64_t frames) {
  srrand(1);
  std::vector<float> data(static_cast<size_t>(frames));
  for (float& sample : data) sample = float(rrand()) * 0.5f;
  return data;
}

void BM_GlideSevenSemitonesUp(benchmark::State& state, const std::string& name) {
  const std::vector<float> input = noise(int64_t(kInputSeconds * kRate));
  // Output long enough to consume the whole input at the transposed speed.
  const double outputSeconds = kInputSeconds / std::exp2(kOctaves);
  for (auto _ : state) {
    state.PauseTiming();
    auto engine = std::make_unique<Engine>();
    engine->setEchoMessages(false);
    engine->load(name);
    engine->setInput(memorySoundInput(input, 1, kRate));
    engine->setTable(1, {1.0});
    engine->setTable(2, {kOctaves});
    if (!engine->playNote(name, {0, 0, outputSeconds, 1.0, 2})) state.SkipWithError("note refused");
    NullSink sink;
    state.ResumeTiming();
    engine->render(sink);
    benchmark::DoNotOptimize(sink.written);
  }
  state.counters["x_realtime"] =
      benchmark::Counter(outputSeconds * double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["input_x_realtime"] =
      benchmark::Counter(kInputSeconds * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(BM_GlideSevenSemitonesUp, SHIFTGLIDE, std::string("SHIFTGLIDE"))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_GlideSevenSemitonesUp, FAUXGLIDE, std::string("FAUXGLIDE"))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
