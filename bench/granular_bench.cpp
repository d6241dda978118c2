// FLURRYR and flurry speed: 60 s of stereo grains at 50 grains per second,
// grains of 10 to 40 ms at 200 to 2000 Hz, reported as a multiple of real
// time (seconds of audio rendered per second of wall time).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "Engine.h"

using namespace vemora;

namespace {

constexpr double kSeconds = 60.0;

class NullSink : public OutputSink {
 public:
  void write(const float* interleaved, int frames) override {
    benchmark::DoNotOptimize(interleaved);
    written += frames;
  }
  int64_t written = 0;
};

std::unique_ptr<Engine> makeEngine(const char* plugin) {
  auto engine = std::make_unique<Engine>();
  engine->setEchoMessages(false);
  engine->load(plugin);
  return engine;
}

// flurry prints its closing line on standard output; the guard sends it to
// /dev/null so that it stays out of the benchmark's report.
class QuietStdout {
 public:
  QuietStdout() {
    std::fflush(stdout);
    saved = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, STDOUT_FILENO);
      close(null);
    }
  }
  ~QuietStdout() {
    std::fflush(stdout);
    if (saved >= 0) {
      dup2(saved, STDOUT_FILENO);
      close(saved);
    }
  }

 private:
  int saved = -1;
};

void reportSpeed(benchmark::State& state) {
  state.counters["x_realtime"] = benchmark::Counter(kSeconds * double(state.iterations()), benchmark::Counter::kIsRate);
}

// FLURRYR keeps every grain inside its own period, so a grain of up to 40 ms
// needs a period of 40 ms: two notes of 25 grains per second each make the
// 50 per second. Argument 1 instead plays one note of 50 grains per second
// with grains of 10 to 20 ms.
void BM_FlurryrSixtySeconds(benchmark::State& state) {
  const bool single = state.range(0) == 1;
  for (auto _ : state) {
    state.PauseTiming();
    auto engine = makeEngine("FLURRYR");
    engine->makeTable(1, 7, 1000, {0, 50, 1, 900, 1, 50, 0});
    engine->makeTable(2, 10, 1024, {1, 0.5, 0.3, 0.2});
    engine->makeTable(3, 20, 1024, {2});
    // The longest grain equals the period, both as the single-precision
    // rate that the instrument compares against.
    const double high = double(single ? 0.02f : 0.04f);
    const double mid = single ? 0.015 : 0.025;
    for (int voice = 0; voice < (single ? 1 : 2); ++voice) {
      // clang-format off
      const std::vector<PField> pfields = {
          0.0,   kSeconds, 0.2,    high,  // start, duration, amplitude, period
          0.0,   0.5,      1.0,    1.0,   // position in the period
          0.01,  mid,      high,   1.0,   // grain length
          0.0,   0.5,      1.0,    1.0,   // placement
          200.0, 632.0,    2000.0, 1.0,   // frequency
          0.0,   double(voice + 1)};      // unused, seed
      // clang-format on
      if (!engine->playNote("FLURRYR", pfields)) {
        state.SkipWithError("FLURRYR refused the note");
        return;
      }
    }
    NullSink sink;
    state.ResumeTiming();
    engine->render(sink);
    benchmark::DoNotOptimize(sink.written);
  }
  reportSpeed(state);
}
BENCHMARK(BM_FlurryrSixtySeconds)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// One legacy note writes the whole cloud when it is called; the render then
// mixes it in. Both are timed.
void BM_FlurrySixtySeconds(benchmark::State& state) {
  std::vector<double> p = {0.0, kSeconds, 0.2, 0.02, 0.02};
  const std::vector<double> sets[] = {
      {0.0, 0.0, 0.0, 1.0},        {0.0, 0.0, 0.0, 1.0},         // start offset
      {0.01, 0.025, 0.04, 1.0},    {0.01, 0.025, 0.04, 1.0},     // duration
      {0.0, 0.5, 1.0, 1.0},        {0.0, 0.5, 1.0, 1.0},         // location
      {200.0, 632.0, 2000.0, 1.0}, {200.0, 632.0, 2000.0, 1.0},  // frequency
  };
  for (const std::vector<double>& set : sets) p.insert(p.end(), set.begin(), set.end());
  p.push_back(1.0);
  for (auto _ : state) {
    state.PauseTiming();
    auto engine = makeEngine("flurry");
    engine->makeTable(1, 7, 1000, {0, 50, 1, 900, 1, 50, 0});
    for (int slot : {2, 3, 4, 5}) engine->makeTable(slot, 7, 1000, {0, 1000, 1});
    engine->makeTable(6, 10, 1024, {1, 0.5, 0.3, 0.2});
    engine->makeTable(8, 20, 1024, {2});
    NullSink sink;
    state.ResumeTiming();
    {
      QuietStdout quiet;
      engine->callFunction("flurry", p);
    }
    engine->render(sink);
    benchmark::DoNotOptimize(sink.written);
  }
  reportSpeed(state);
}
BENCHMARK(BM_FlurrySixtySeconds)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
