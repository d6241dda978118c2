// The benchmark workloads (bench/peers), shortened to a few seconds, render
// to exactly the samples they rendered before the engine was tuned for speed.
// Each reference is a 64-bit FNV-1a hash of the rendered float samples,
// recorded from the engine as it stood before that work; speed work must not
// change a single bit of any instrument's output, of the mixing or of the
// scheduling. A render whose reference is missing fails and prints its hash.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/TestEngine.h"

using namespace vemora;
using vemora::testing::makeEngine;

namespace {

constexpr int kRate = 44100;

uint64_t fnv1a(const std::vector<float>& samples) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (float sample : samples) {
    unsigned char bytes[sizeof(float)];
    std::memcpy(bytes, &sample, sizeof bytes);
    for (unsigned char byte : bytes) {
      hash ^= byte;
      hash *= 0x100000001b3ull;
    }
  }
  return hash;
}

// Mono noise that does not depend on the engine's generator (so a change
// in when the engine reseeds cannot hide behind the input).
std::vector<float> noise(int frames, uint64_t seed) {
  std::vector<float> data(static_cast<size_t>(frames));
  uint64_t state = seed;
  for (float& sample : data) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    sample = float(int32_t(state >> 32)) * (0.5f / 2147483648.0f);
  }
  return data;
}

void oscillatorBank(Engine& engine) {
  engine.load("SCULPT");
  constexpr int voices = 64, steps = 4;
  engine.setTable(1, {1.0});
  engine.makeTable(2, 10, 1024, {1});
  engine.setTable(4, std::vector<double>(steps, -60.0));
  for (int i = 0; i < voices; ++i) {
    std::vector<double> freqs;
    for (int j = 0; j < steps; ++j) freqs.push_back(100.0 * std::pow(2.0, ((5 * i + 7 * j) % 48) / 12.0));
    engine.setTable(3, freqs);
    engine.playNote("SCULPT", {0, 0.5, 1.0 / voices, double(steps), i / double(voices - 1)});
  }
}

void filePan(Engine& engine) {
  engine.load("PAN");
  engine.setInput(memorySoundInput(noise(3 * kRate, 11), 1, kRate));
  engine.makeTable(1, 27, 301, {0, 0, 0.1, 1, 1.5, 0.5, 2.9, 1, 3, 0});
  engine.makeTable(2, 27, 301, {0, 1, 1, 0, 2, 1, 3, 0.5});
  engine.playNote("PAN", {0, 0, 3, 1, 0, 0});
}

void granular(Engine& engine) {
  engine.load("FLURRYR");
  engine.makeTable(2, 10, 1024, {1});
  engine.makeTable(3, 20, 1024, {2});
  for (int seed = 1; seed <= 2; ++seed)
    engine.playNote("FLURRYR", {0, 3, 0.3, 0.04, 0, 0.5, 1,    1,    0.010, 0.025, 0.0399,
                                1, 0, 0.5, 1,    1, 200, 1100, 2000, 1,     0,     double(seed)});
}

void transposition(Engine& engine) {
  engine.load("SHIFTGLIDE");
  engine.setInput(memorySoundInput(noise(6 * kRate, 23), 1, kRate));
  engine.makeTable(2, 27, 4096, {0, 0, 1.5, 7.0 / 12.0, 3, 0});
  engine.playNote("SHIFTGLIDE", {0, 0, 3, 2, 2, 0, 0.5});
}

void manyNotes(Engine& engine) {
  engine.load("SCULPT");
  engine.setTable(1, {1.0});
  engine.makeTable(2, 10, 1024, {1});
  engine.setTable(4, {-60.0});
  for (int k = 0; k < 1000; ++k) {
    engine.setTable(3, {200.0 + (7919 * k) % 1801});
    engine.playNote("SCULPT", {k * 0.003, 0.01, 0.42426, 1, 0.5});
  }
}

// Overlapping notes at every offset inside a block, some of no length and
// some longer than a block: the scheduler's chunking and the mixer.
void probeNotes(Engine& engine) {
  engine.load("FRAMEPROBE");
  for (int k = 0; k < 600; ++k) {
    const double start = k * 0.0021 + (k % 7) * 0.00013;
    const double seconds = (k % 5 == 0) ? 0.0 : 0.001 * (1 + (k * 37) % 41);
    engine.playNote("FRAMEPROBE", {start, seconds, double(k % 3 == 0 ? 2 : 0)});
  }
}

struct Workload {
  const char* name;
  std::function<void(Engine&)> score;
  EngineSettings settings;
  uint64_t reference;  // 0: not recorded yet
};

EngineSettings withBlock(int frames, int channels = 2) {
  EngineSettings settings;
  settings.blockFrames = frames;
  settings.channels = channels;
  return settings;
}

const std::vector<Workload>& workloads() {
  static const std::vector<Workload> all = {
      {"oscillator bank", oscillatorBank, {}, 0xa644214bfe60ec80ull},
      {"file pan", filePan, {}, 0xd46d26e282fe56c6ull},
      {"file pan, block 37", filePan, withBlock(37), 0xd46d26e282fe56c6ull},
      {"granular", granular, {}, 0x1f2a18553b3555d1ull},
      {"transposition", transposition, {}, 0xb285f3f6cc336105ull},
      {"many notes", manyNotes, {}, 0xa08f28e56dcac269ull},
      {"many notes, block 100", manyNotes, withBlock(100), 0xa08f28e56dcac269ull},
      {"probe notes", probeNotes, {}, 0x8b74850fe7c27fedull},
      {"probe notes, block 100, 3 channels", probeNotes, withBlock(100, 3), 0xae28281c3952d664ull},
  };
  return all;
}

std::string hex(uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%016" PRIx64 "ull", value);
  return text;
}

}  // namespace

TEST(WorkloadIdentity, RendersMatchTheRecordedSamples) {
  for (const Workload& workload : workloads()) {
    SCOPED_TRACE(workload.name);
    auto engine = makeEngine(workload.settings);
    workload.score(*engine);
    ASSERT_EQ(engine->notesRefused(), 0);
    const std::vector<float> samples = engine->renderToMemory();
    ASSERT_FALSE(samples.empty());
    const uint64_t hash = fnv1a(samples);
    EXPECT_NE(workload.reference, 0u) << "no reference recorded; this render hashes to " << hex(hash);
    EXPECT_EQ(hash, workload.reference) << "rendered " << hex(hash);
  }
}

// The file writer keeps float samples as they are: a render written to a
// 32-bit float WAV reads back bit for bit as the same render made in memory.
TEST(WorkloadIdentity, FloatFilesHoldTheSamplesRenderedInMemory) {
  const std::filesystem::path path = std::filesystem::path(::testing::TempDir()) / "workload_identity_probe.wav";
  for (const Workload& workload : workloads()) {
    SCOPED_TRACE(workload.name);
    auto memory = makeEngine(workload.settings);
    workload.score(*memory);
    const std::vector<float> expected = memory->renderToMemory();

    auto file = makeEngine(workload.settings);
    workload.score(*file);
    const RenderReport report = file->renderToFile(path.string());
    ASSERT_EQ(report.frames * report.channels, int64_t(expected.size()));
    auto input = openSoundInput(path.string());
    std::vector<float> readBack(expected.size());
    input->read(0, int(report.frames), readBack.data());
    EXPECT_TRUE(readBack == expected);
  }
  std::filesystem::remove(path);
}
