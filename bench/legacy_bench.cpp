// gravy and twirl on 60 s of mono input, a fifth up, beside SoX's pitch
// effect on the same input, each reported as a multiple of real time:
// x_realtime per second of wall time, x_realtime_cpu per second of CPU time
// (this process and the sox it waits for), the steadier figure on a busy
// machine.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Engine.h"
#include "SoundOutput.h"
#include "wavekit.h"

using namespace vemora;

namespace {

constexpr int kRate = 44100;
constexpr double kSeconds = 60.0;

class NullSink : public OutputSink {
 public:
  void write(const float* interleaved, int frames) override {
    benchmark::DoNotOptimize(interleaved);
    written += frames;
  }
  int64_t written = 0;
};

// A voice-like test input: two drifting partials under noise.
const std::vector<float>& input() {
  static const std::vector<float> data = [] {
    srrand(1);
    std::vector<float> samples(size_t(kSeconds * kRate));
    double phase = 0.0;
    for (size_t k = 0; k < samples.size(); ++k) {
      phase += 2.0 * M_PI * (180.0 + 40.0 * std::sin(double(k) / kRate)) / kRate;
      samples[k] = float(0.4 * std::sin(phase) + 0.2 * std::sin(3.0 * phase) + 0.05 * rrand());
    }
    return samples;
  }();
  return data;
}

std::unique_ptr<Engine> legacyEngine(const char* name) {
  auto engine = std::make_unique<Engine>();
  engine->setEchoMessages(false);
  engine->load(name);
  engine->setInput(memorySoundInput(input(), 1, kRate));
  return engine;
}

// CPU seconds used so far by this process and its finished children.
double cpuSeconds() {
  double total = 0.0;
  for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage usage{};
    getrusage(who, &usage);
    total += double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
             1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
  }
  return total;
}

void reportSpeed(benchmark::State& state, double cpu) {
  const double audio = kSeconds * double(state.iterations());
  state.counters["x_realtime"] = benchmark::Counter(audio, benchmark::Counter::kIsRate);
  state.counters["x_realtime_cpu"] = cpu > 0.0 ? audio / cpu : 0.0;
}

// 50 ms grains under a Hanning window, no stretch, seven semitones up.
void BM_GravySixtySeconds(benchmark::State& state) {
  double cpu = 0.0;
  for (auto _ : state) {
    state.PauseTiming();
    auto engine = legacyEngine("gravy");
    engine->makeTable(1, 20, 1024, {2});
    NullSink sink;
    state.ResumeTiming();
    const double before = cpuSeconds();
    engine->callFunction("gravy", {0, 0, kSeconds, 0.05, 1, 1, 0.07, 0, 0.5});
    engine->render(sink);
    cpu += cpuSeconds() - before;
    benchmark::DoNotOptimize(sink.written);
  }
  reportSpeed(state, cpu);
}
BENCHMARK(BM_GravySixtySeconds)->Unit(benchmark::kMillisecond)->UseRealTime();

// A 50 ms Hanning head window, seven semitones up throughout.
void BM_TwirlSixtySeconds(benchmark::State& state) {
  double cpu = 0.0;
  for (auto _ : state) {
    state.PauseTiming();
    auto engine = legacyEngine("twirl");
    engine->makeTable(2, 20, 1024, {2});
    engine->setTable(3, {0, 1});
    NullSink sink;
    state.ResumeTiming();
    const double before = cpuSeconds();
    engine->callFunction("twirl", {0, 0, kSeconds, 1, 0.07, 0.07, 0.05, 0, 0.5});
    engine->render(sink);
    cpu += cpuSeconds() - before;
    benchmark::DoNotOptimize(sink.written);
  }
  reportSpeed(state, cpu);
}
BENCHMARK(BM_TwirlSixtySeconds)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same input through `sox in.wav -n pitch 700` (700 cents), reading the
// file and discarding the output: the peer's cost of the same shift.
void BM_SoxPitchSixtySeconds(benchmark::State& state) {
  const std::string path = (std::filesystem::temp_directory_path() / "vemora_legacy_bench.wav").string();
  {
    SoundFileWriter writer(path, outputFormatFor(path, ""), 1, kRate);
    writer.write(input().data(), int(input().size()));
    writer.commit();
  }
  const std::string command = "sox -V1 -q '" + path + "' -n pitch 700";
  double cpu = 0.0;
  for (auto _ : state) {
    const double before = cpuSeconds();
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("sox did not run (is it installed?)");
      break;
    }
    cpu += cpuSeconds() - before;
  }
  std::filesystem::remove(path);
  reportSpeed(state, cpu);
}
BENCHMARK(BM_SoxPitchSixtySeconds)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
