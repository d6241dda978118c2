// The per-frame paths of a render, one at a time: rtaddout, tablei, oscil
// and oscili, the chunk mixer and the sound-file writer. Each reports frames
// per second (items_per_second) and x_realtime, the seconds of 44.1 kHz
// audio handled per second.
//   build/bench/micro_bench [--benchmark_filter=Mixer]
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "Instrument.h"
#include "Renderer.h"
#include "SoundOutput.h"
#include "wavekit.h"

using namespace vemora;

namespace {

constexpr int kRate = 44100;
constexpr int kBlock = 512;

void reportFrames(benchmark::State& state, int64_t framesPerIteration) {
  const int64_t frames = framesPerIteration * int64_t(state.iterations());
  state.SetItemsProcessed(frames);
  state.counters["x_realtime"] = benchmark::Counter(double(frames) / kRate, benchmark::Counter::kIsRate);
}

std::vector<double> sineTable(int length) {
  std::vector<double> table(static_cast<size_t>(length));
  for (int i = 0; i < length; ++i) table[size_t(i)] = std::sin(2.0 * M_PI * i / length);
  return table;
}

class Sink : public Instrument {
 public:
  int init(double*, int) override { return 0; }
  int run() override { return 0; }
};

// One stereo frame added per call, a block at a time, as PAN and FLURRYR do.
void BM_RtAddOut(benchmark::State& state) {
  std::vector<float> chunk(size_t(kBlock) * 2);
  Sink inst;
  inst.outBuffer = chunk.data();
  inst.outChanCount = 2;
  inst.outFramesCapacity = kBlock;
  const float frame[2] = {0.25f, -0.5f};
  for (auto _ : state) {
    inst.outFramesAdded = 0;
    for (int f = 0; f < kBlock; ++f) inst.rtaddout(frame);
    benchmark::DoNotOptimize(chunk.data());
    benchmark::ClobberMemory();
  }
  reportFrames(state, kBlock);
}
BENCHMARK(BM_RtAddOut);

// A 1024-entry curve stretched over a minute, read at every frame.
void BM_Tablei(benchmark::State& state) {
  std::vector<double> curve = sineTable(1024);
  float tabs[2];
  tableset(kRate, 60.0f, int(curve.size()), tabs);
  long frame = 0;
  for (auto _ : state) {
    double sum = 0.0;
    for (int f = 0; f < kBlock; ++f) sum += tablei(frame++, curve.data(), tabs);
    benchmark::DoNotOptimize(sum);
    if (frame > 60L * kRate) frame = 0;
  }
  reportFrames(state, kBlock);
}
BENCHMARK(BM_Tablei);

// A 441 Hz sine from a 1024-entry table (an increment of 10.24 entries).
template <float (*Oscillator)(float, float, double*, int, float*)>
void BM_Oscillator(benchmark::State& state) {
  std::vector<double> wave = sineTable(1024);
  std::vector<float> out(kBlock);
  float phase = 0.0f;
  for (auto _ : state) {
    for (int f = 0; f < kBlock; ++f) out[size_t(f)] = Oscillator(0.5f, 10.24f, wave.data(), 1024, &phase);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  reportFrames(state, kBlock);
}
BENCHMARK(BM_Oscillator<oscili>)->Name("BM_Oscili");
BENCHMARK(BM_Oscillator<oscil>)->Name("BM_Oscil");

// A stereo chunk of a block added into the output block; argument 1 swaps
// the channels, which takes the mixer's general path.
void BM_Mixer(benchmark::State& state) {
  std::vector<float> chunk(size_t(kBlock) * 2, 0.125f);
  std::vector<float> block(size_t(kBlock) * 2, 0.0f);
  const std::vector<int> channels = state.range(0) == 0 ? std::vector<int>{0, 1} : std::vector<int>{1, 0};
  for (auto _ : state) {
    mixChunk(chunk.data(), kBlock, channels, block.data(), 2);
    benchmark::DoNotOptimize(block.data());
    benchmark::ClobberMemory();
  }
  reportFrames(state, kBlock);
}
BENCHMARK(BM_Mixer)->Arg(0)->Arg(1);

// Ten seconds of stereo written block by block to a 32-bit float WAV (or,
// argument 1, 24-bit integers) and committed, which waits for the disk.
void BM_FileWriter(benchmark::State& state) {
  const std::filesystem::path path = std::filesystem::temp_directory_path() / "micro_bench_writer.wav";
  const std::string format = state.range(0) == 0 ? "" : "24";
  constexpr int64_t frames = int64_t(10) * kRate;
  std::vector<float> block(size_t(kBlock) * 2);
  for (size_t i = 0; i < block.size(); ++i) block[i] = float(std::sin(0.01 * double(i))) * 0.5f;
  for (auto _ : state) {
    SoundFileWriter writer(path.string(), outputFormatFor(path.string(), format), 2, kRate);
    for (int64_t done = 0; done < frames; done += kBlock)
      writer.write(block.data(), int(std::min<int64_t>(kBlock, frames - done)));
    writer.commit();
  }
  std::filesystem::remove(path);
  reportFrames(state, frames);
}
BENCHMARK(BM_FileWriter)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
