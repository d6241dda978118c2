// The engine's per-frame paths, which take shortcuts for speed, against the
// plain arithmetic they stand for (the oscillators' phase stepping, the
// chunk mixer, rtaddout, the float file writer's peak scan), and what the
// compact record of a waiting note must still do: start in time order and
// hold the tables of its call.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <vector>

#include "Note.h"
#include "RecordPool.h"
#include "Renderer.h"
#include "SoundOutput.h"
#include "support/TestEngine.h"
#include "wavekit.h"

using namespace vemora;
using vemora::testing::makeEngine;

namespace {

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The oscillators' arithmetic as wavekit.h states it, one step at a time in
// double with fmod.
float wrapped(double phase, int len) {
  if (!(phase >= 0.0 && phase < len)) {
    phase = std::fmod(phase, double(len));
    if (phase < 0.0) phase += len;
  }
  const float stored = float(phase);
  return stored >= 0.0f && stored < float(len) ? stored : 0.0f;
}

float plainOscil(float amp, float si, const double* t, int len, float* phs, bool interpolate) {
  const float phase = wrapped(*phs, len);
  const int k = int(phase);
  double value = t[k];
  if (interpolate) value = t[k] + (t[(k + 1) % len] - t[k]) * (double(phase) - k);
  *phs = wrapped(double(phase) + si, len);
  return float(amp * value);
}

}  // namespace

TEST(FastOscillators, MatchTheWrappingArithmeticBitForBit) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::mt19937 random(7);
  std::uniform_real_distribution<float> spread(-3000.0f, 3000.0f);
  std::vector<double> t(4096);
  for (size_t i = 0; i < t.size(); ++i) t[i] = std::sin(0.37 * double(i)) + 0.001 * double(i);

  for (int len : {1, 2, 3, 7, 512, 1000, 1024, 4096}) {
    const float flen = float(len);
    std::vector<float> phases = {0.0f,   -0.0f,        0.5f,        flen - 1.0f, std::nextafter(flen, 0.0f),
                                 flen,   flen + 0.25f, 2.0f * flen, -flen,       -flen - 0.5f,
                                 -0.25f, 1e9f,         -1e9f,       nan,         inf,
                                 -inf};
    std::vector<float> steps = {0.0f,        -0.0f,  0.3f,    1.0f,  -1.0f, flen - 0.01f, flen,   -flen,
                                3.3f * flen, 1e-30f, -1e-30f, 1e30f, nan,   inf,          10.24f, -7.77f};
    for (int i = 0; i < 8; ++i) {
      phases.push_back(spread(random));
      steps.push_back(spread(random) / 100.0f);
    }
    for (float start : phases) {
      for (float si : steps) {
        for (bool interpolate : {false, true}) {
          SCOPED_TRACE(::testing::Message()
                       << "len " << len << " phase " << start << " si " << si << (interpolate ? " oscili" : " oscil"));
          float fast = start;
          float plain = start;
          for (int step = 0; step < 40; ++step) {
            const float amp = 0.5f + 0.01f * float(step);
            const float got =
                interpolate ? oscili(amp, si, t.data(), len, &fast) : oscil(amp, si, t.data(), len, &fast);
            const float want = plainOscil(amp, si, t.data(), len, &plain, interpolate);
            ASSERT_TRUE(sameBits(got, want)) << "step " << step << ": " << got << " against " << want;
            ASSERT_TRUE(sameBits(fast, plain)) << "step " << step << ": phase " << fast << " against " << plain;
          }
        }
        // The inline form an instrument runs over a span of frames.
        float spanPhase = start, plainPhase = start;
        std::vector<float> got(40);
        oscilFrames(0.75f, si, t.data(), len, &spanPhase, 40, [&](int i, float sample) { got[size_t(i)] = sample; });
        for (int step = 0; step < 40; ++step)
          ASSERT_TRUE(sameBits(got[size_t(step)], plainOscil(0.75f, si, t.data(), len, &plainPhase, false)))
              << "len " << len << " phase " << start << " si " << si << " span step " << step;
        ASSERT_TRUE(sameBits(spanPhase, plainPhase)) << "len " << len << " phase " << start << " si " << si;
      }
    }
  }
  float untouched = 2.5f;
  oscilFrames(1.0f, 1.0f, nullptr, 8, &untouched, 3, [](int, float sample) { ASSERT_EQ(sample, 0.0f); });
  EXPECT_EQ(untouched, 2.5f);

  // A table longer than a float counts exactly still steps the same way
  // (only its first entries are touched here).
  const int longLength = (1 << 24) + 4;
  float fast = 3.5f, plain = 3.5f;
  for (int step = 0; step < 1000; ++step) {
    ASSERT_TRUE(sameBits(oscili(1.0f, 2.75f, t.data(), longLength, &fast),
                         plainOscil(1.0f, 2.75f, t.data(), longLength, &plain, true)));
    ASSERT_TRUE(sameBits(fast, plain));
  }
}

TEST(Mixer, AddsAChunkAsAPlainLoopWould) {
  std::mt19937 random(3);
  std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
  const std::vector<std::vector<int>> layouts = {{0}, {0, 1}, {1, 0}, {1}, {0, 1, 2}, {2, 0}, {0, 2}};
  for (int blockChannels = 1; blockChannels <= 3; ++blockChannels) {
    for (const std::vector<int>& layout : layouts) {
      if (*std::max_element(layout.begin(), layout.end()) >= blockChannels) continue;
      for (int frames : {0, 1, 3, 4, 7, 8, 9, 31, 64, 513}) {
        SCOPED_TRACE(::testing::Message() << blockChannels << " block channels, " << layout.size() << " note channels, "
                                          << frames << " frames");
        const int noteChannels = int(layout.size());
        std::vector<float> chunk(size_t(frames) * size_t(noteChannels));
        std::vector<float> start(size_t(frames) * size_t(blockChannels));
        for (float& x : chunk) x = sample(random);
        for (float& x : start) x = sample(random);
        std::vector<float> want = start;
        for (int f = 0; f < frames; ++f)
          for (int c = 0; c < noteChannels; ++c)
            want[size_t(f * blockChannels + layout[size_t(c)])] += chunk[size_t(f * noteChannels + c)];

        ChannelList channels;
        channels = layout;
        std::vector<float> viaList = start;
        mixChunk(chunk.data(), frames, channels, viaList.data(), blockChannels);
        EXPECT_TRUE(viaList == want);
        std::vector<float> viaVector = start;
        mixChunk(chunk.data(), frames, layout, viaVector.data(), blockChannels);
        EXPECT_TRUE(viaVector == want);
      }
    }
  }
}

namespace {

class FrameSink : public Instrument {
 public:
  int init(double*, int) override { return 0; }
  int run() override { return 0; }
};

}  // namespace

TEST(RtAddOut, AddsFramesUntilTheChunkIsFull) {
  for (int channels = 1; channels <= 4; ++channels) {
    SCOPED_TRACE(::testing::Message() << channels << " channels");
    std::vector<float> chunk(size_t(5 * channels), 0.5f);
    FrameSink inst;
    inst.outBuffer = chunk.data();
    inst.outChanCount = channels;
    inst.outFramesCapacity = 4;
    std::vector<float> frame(static_cast<size_t>(channels), 0.0f);
    for (int f = 0; f < 6; ++f) {
      for (int c = 0; c < channels; ++c) frame[size_t(c)] = float(10 * f + c);
      EXPECT_EQ(inst.rtaddout(frame.data()), f < 4 ? channels : 0);
    }
    for (int f = 0; f < 5; ++f)
      for (int c = 0; c < channels; ++c)
        EXPECT_EQ(chunk[size_t(f * channels + c)], f < 4 ? 0.5f + float(10 * f + c) : 0.5f);
  }
}

TEST(FloatWriter, PeaksAndRepairsMatchASampleBySampleScan) {
  const std::filesystem::path path = std::filesystem::path(::testing::TempDir()) / "hot_path_writer.wav";
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::mt19937 random(11);
  std::uniform_real_distribution<float> sample(-2.0f, 2.0f);
  for (int channels = 1; channels <= 5; ++channels) {
    for (int spoilers = 0; spoilers <= 3; ++spoilers) {
      SCOPED_TRACE(::testing::Message() << channels << " channels, " << spoilers << " bad samples");
      const int frames = 70001;  // more than the writer gathers before it hands over, at any channel count
      std::vector<float> data(size_t(frames) * size_t(channels));
      for (float& x : data) x = sample(random) * 0.5f;
      data[size_t(channels * 40000 - 1)] = -1.875f;  // a peak late in the last channel
      const float bad[] = {nan, inf, -inf};
      for (int k = 0; k < spoilers; ++k) data[size_t(k * 23337 + channels) % data.size()] = bad[k];

      std::vector<float> peaks(size_t(channels), 0.0f);
      std::vector<float> stored = data;
      int64_t repaired = 0;
      for (size_t i = 0; i < data.size(); ++i) {
        const float x = data[i];
        if (std::isnan(x)) {
          stored[i] = 0.0f;
          ++repaired;
          continue;
        }
        peaks[i % size_t(channels)] = std::max(peaks[i % size_t(channels)], std::fabs(x));
        if (std::isinf(x)) {
          stored[i] = std::copysign(1.0f, x);
          ++repaired;
        }
      }

      {
        SoundFileWriter writer(path.string(), outputFormatFor(path.string(), ""), channels, 44100);
        writer.write(data.data(), 1000);
        writer.write(data.data() + 1000 * channels, 30000);
        writer.write(data.data() + 31000 * channels, frames - 31000);
        EXPECT_EQ(writer.peaks(), peaks);
        EXPECT_EQ(writer.clippedSamples(), repaired);
        writer.commit();
      }
      auto input = openSoundInput(path.string());
      std::vector<float> readBack(data.size());
      input->read(0, frames, readBack.data());
      EXPECT_TRUE(readBack == stored);
    }
  }
  std::filesystem::remove(path);
}

TEST(NoteQueue, NotesStartInTimeOrderWhateverOrderTheyArriveIn) {
  EngineSettings settings;
  settings.sampleRate = 1000;
  settings.blockFrames = 8;
  settings.channels = 1;
  auto engine = makeEngine(settings);
  engine->load("FRAMEPROBE");

  // A live stream: notes placed after the render started arrive while others
  // wait, some of them starting earlier than the waiting ones.
  std::vector<float> out;
  struct Collect : OutputSink {
    std::vector<float>* to;
    void write(const float* frames, int n) override { to->insert(to->end(), frames, frames + n); }
  } sink;
  sink.to = &out;
  engine->playNote("FRAMEPROBE", {0.040, 0.004, 0});  // frames 40-43
  engine->openStream(sink);
  engine->renderStreamBlock();                        // frames 0-7
  engine->playNote("FRAMEPROBE", {0.012, 0.003, 0});  // from 8: frames 20-22, before the waiting one
  engine->playNote("FRAMEPROBE", {0.032, 0.002, 0});  // frames 40-41, with the waiting one
  engine->playNote("FRAMEPROBE", {0.002, 0.001, 0});  // frame 10
  for (int block = 0; block < 6; ++block) engine->renderStreamBlock();
  engine->closeStream();

  std::vector<float> want(56, 0.0f);
  want[10] = 1;
  for (int f = 0; f < 3; ++f) want[size_t(20 + f)] = float(f + 1);
  for (int f = 0; f < 4; ++f) want[size_t(40 + f)] += float(f + 1);
  for (int f = 0; f < 2; ++f) want[size_t(40 + f)] += float(f + 1);
  EXPECT_EQ(out, want);

  // A score played backwards sounds forwards.
  auto backwards = makeEngine(settings);
  backwards->load("FRAMEPROBE");
  for (int k = 9; k >= 0; --k) backwards->playNote("FRAMEPROBE", {0.003 * k, 0.002, 0});
  const std::vector<float> played = backwards->renderToMemory();
  ASSERT_EQ(played.size(), 29u);
  for (int k = 0; k < 10; ++k) {
    EXPECT_EQ(played[size_t(3 * k)], 1.0f) << "note " << k;
    EXPECT_EQ(played[size_t(3 * k + 1)], 2.0f) << "note " << k;
  }
}

// A slot remade by gen while nothing else holds its table is refilled where
// it is; one that a waiting note holds is made anew, and a refused remake
// leaves the slot as it was.
TEST(HeldTables, GenRemakesASlotInPlaceOnlyWhenNoNoteHoldsIt) {
  EngineSettings settings;
  settings.sampleRate = 1000;
  auto engine = makeEngine(settings);
  engine->load("PAN");
  vemora::testing::giveInput(*engine, 100, 1, [](int, int) { return 0.5f; });
  auto panNote = [&](double start) { engine->playNote("PAN", {start, 0, 0.004, 1.0, 0, 0}); };
  engine->makeTable(1, 2, 2, {1.0, 1.0});  // amplitude curve
  engine->makeTable(2, 2, 2, {1.0, 1.0});  // pan: all on channel 0
  panNote(0.0);
  engine->makeTable(1, 2, 2, {0.25, 0.25});  // the first note holds the old ones
  engine->makeTable(2, 2, 2, {0.0, 0.0});
  engine->makeTable(1, -7, 2, {0.5, 2, 0.5});  // unheld now: refilled by another routine
  EXPECT_THROW(engine->makeTable(2, 2, 2, {std::nan("")}), ScoreError);
  panNote(0.004);
  const std::vector<float> out = engine->renderToMemory();
  ASSERT_EQ(out.size(), 16u);
  for (int f = 0; f < 4; ++f) {
    EXPECT_EQ(out[size_t(2 * f)], 0.5f) << "frame " << f;
    EXPECT_EQ(out[size_t(2 * f + 1)], 0.0f) << "frame " << f;
    EXPECT_EQ(out[size_t(8 + 2 * f)], 0.0f) << "frame " << 4 + f;
    EXPECT_EQ(out[size_t(8 + 2 * f + 1)], 0.25f) << "frame " << 4 + f;
  }
}

// The records of notes: every block aligned for any object, none
// overlapping another that lives, and a released block used again for the
// next of its size (except under AddressSanitizer, which sees every block
// come from the heap), within the first slab and past it.
TEST(RecordPool, BlocksAreAlignedApartAndUsedAgain) {
  RecordPool pool;
  std::vector<std::pair<char*, size_t>> blocks;
  for (size_t size : {200, 120, 8, 1000, 1024, 1025, 5000, 200, 16})
    for (RecordPool* from : {&pool, static_cast<RecordPool*>(nullptr)}) {
      auto* block = static_cast<char*>(RecordPool::allocate(from, size));
      EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u) << size;
      std::memset(block, int(blocks.size()), size);
      blocks.push_back({block, size});
    }
  for (size_t i = 0; i < blocks.size(); ++i)
    for (size_t k = 0; k < blocks[i].second; ++k)
      ASSERT_EQ(blocks[i].first[k], char(i)) << "block " << i << " was overwritten";
  for (auto& [block, size] : blocks) RecordPool::release(block);
  RecordPool::release(nullptr);
  if (RecordPool::kPools) {
    void* first = RecordPool::allocate(&pool, 200);
    RecordPool::release(first);
    EXPECT_EQ(RecordPool::allocate(&pool, 200), first);
    EXPECT_GT(pool.reserved(), 0u);
  }
  // Past the first slab, into the huge-page ones: blocks stay aligned and
  // apart across the change of slab.
  std::vector<char*> many;
  for (int i = 0; i < 2000; ++i) {
    many.push_back(static_cast<char*>(RecordPool::allocate(&pool, 200)));
    ASSERT_EQ(reinterpret_cast<uintptr_t>(many.back()) % 16, 0u);
    std::memset(many.back(), i & 0x7f, 200);
  }
  for (int i = 0; i < 2000; ++i) {
    ASSERT_EQ(many[size_t(i)][199], char(i & 0x7f)) << "block " << i;
  }
  if (RecordPool::kPools) {
    EXPECT_GT(pool.reserved(), size_t(2) << 20);
  }
  for (char* block : many) RecordPool::release(block);
}

TEST(HeldTables, KeepEveryTableOnceWhateverTheCount) {
  std::vector<TablePtr> tables;
  for (int i = 0; i < 7; ++i) tables.push_back(vemora::testing::makeTable({double(i)}));
  std::vector<std::weak_ptr<const FunctionTable>> watch(tables.begin(), tables.end());
  {
    HeldTables held;
    for (int round = 0; round < 2; ++round)
      for (const TablePtr& table : tables) held.push_back(table);
    held.push_back(nullptr);
    EXPECT_EQ(held.size(), tables.size());
    tables.clear();
    for (const auto& table : watch) EXPECT_FALSE(table.expired());
  }
  for (const auto& table : watch) EXPECT_TRUE(table.expired());
}

// A waiting note keeps the tables it looked up when it was called, even
// when the score remakes their slots before the render.
TEST(HeldTables, WaitingNotePlaysTheTablesOfItsCall) {
  EngineSettings settings;
  settings.sampleRate = 1000;
  auto engine = makeEngine(settings);
  engine->load("PAN");
  vemora::testing::giveInput(*engine, 100, 1, [](int, int) { return 0.5f; });
  engine->setTable(1, {1.0, 1.0});  // amplitude curve
  engine->setTable(2, {1.0, 1.0});  // pan: all on channel 0
  engine->playNote("PAN", {0, 0, 0.004, 1.0, 0, 0});
  engine->setTable(1, {0.25, 0.25});
  engine->setTable(2, {0.25, 0.25});
  const std::vector<float> out = engine->renderToMemory();
  ASSERT_EQ(out.size(), 8u);
  for (int f = 0; f < 4; ++f) {
    EXPECT_EQ(out[size_t(2 * f)], 0.5f);
    EXPECT_EQ(out[size_t(2 * f + 1)], 0.0f);
  }
}
