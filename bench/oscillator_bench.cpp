// REEDPIPE and SCULPT speed, reported as a multiple of real time: seconds
// of audio rendered per second of wall time (x_realtime) and per second of
// the rendering thread's CPU time (x_realtime_cpu, steadier on a shared
// machine), on 60 s notes at 44100 Hz stereo.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <time.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "Engine.h"

using namespace vemora;

namespace {

constexpr double kSeconds = 60.0;
constexpr int kVoices = 64;
constexpr int kSteps = 120;  // 0.5 s points over 60 s

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
  return engine;
}

double threadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Renders every note played so far, adding the thread's CPU time to *cpu.
void renderTimed(Engine& engine, double* cpu) {
  NullSink sink;
  const double begin = threadCpuSeconds();
  engine.render(sink);
  *cpu += threadCpuSeconds() - begin;
  benchmark::DoNotOptimize(sink.written);
}

void reportSpeed(benchmark::State& state, double audioSecondsPerIteration, double cpuSeconds) {
  const double audio = audioSecondsPerIteration * double(state.iterations());
  state.counters["x_realtime"] = benchmark::Counter(audio, benchmark::Counter::kIsRate);
  state.counters["x_realtime_cpu"] = cpuSeconds > 0.0 ? audio / cpuSeconds : 0.0;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_MB"] = double(usage.ru_maxrss) / 1024.0;
}

// One 60 s reed note with a breath envelope and an output envelope.
void BM_ReedpipeSixtySeconds(benchmark::State& state) {
  double cpu = 0.0;
  for (auto _ : state) {
    state.PauseTiming();
    auto engine = makeEngine();
    engine->load("REEDPIPE");
    engine->makeTable(1, 7, 1000, {0, 50, 1, 900, 0.8, 50, 0});
    engine->makeTable(2, 7, 1000, {0, 20, 1, 960, 1, 20, 0});
    engine->playNote("REEDPIPE", {0, kSeconds, 0.05, 90, 210, 0.5, 0.45, 0.5});
    state.ResumeTiming();
    renderTimed(*engine, &cpu);
  }
  reportSpeed(state, kSeconds, cpu);
}
BENCHMARK(BM_ReedpipeSixtySeconds)->Unit(benchmark::kMillisecond)->UseRealTime();

// An oscillator bank: 64 simultaneous 60 s notes on a 1024-entry sine, each
// stepping through 120 points of 0.5 s, amplitude 1/64, spread across the
// stereo field. Voice i, point j plays 100 x 2^(((5i + 7j) mod 48) / 12) Hz.
void BM_SculptOscillatorBank(benchmark::State& state) {
  double cpu = 0.0;
  for (auto _ : state) {
    state.PauseTiming();
    auto engine = makeEngine();
    engine->load("SCULPT");
    engine->setTable(1, {1.0});
    engine->makeTable(2, 10, 1024, {1});
    engine->setTable(4, std::vector<double>(kSteps, -60.0));
    for (int voice = 0; voice < kVoices; ++voice) {
      std::vector<double> freqs(kSteps);
      for (int step = 0; step < kSteps; ++step)
        freqs[size_t(step)] = 100.0 * std::exp2(double((5 * voice + 7 * step) % 48) / 12.0);
      // Each note keeps the table 3 it found when it was played.
      engine->setTable(3, freqs);
      engine->playNote("SCULPT", {0, 0.5, 1.0 / kVoices, double(kSteps), voice / double(kVoices - 1)});
    }
    state.ResumeTiming();
    renderTimed(*engine, &cpu);
  }
  reportSpeed(state, kSeconds, cpu);
}
BENCHMARK(BM_SculptOscillatorBank)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
