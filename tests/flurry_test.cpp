// flurry through the engine: grain placement by gaps and start offsets,
// noise grains and their draws, the gain held for two frames, overlap, the
// control functions between the two pfield sets, the stereo location, the
// order in which tables are examined, the closing line, the end of runaway
// notes, and the exported prob.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>

#include "support/TestEngine.h"
#include "wavekit.h"

using namespace vemora;
using vemora::testing::makeEngine;

namespace {

using Range = std::array<double, 4>;  // low, mid, high, tightness

Range fixed(double v) { return {v, v, v, 1.0}; }

struct Flurry {
  double dur = 0.3, amp = 1.0, period0 = 0.05, period1 = 0.05;
  Range offsetBegin = fixed(0.0), offsetEnd = fixed(0.0);
  Range dur0 = fixed(0.02), dur1 = fixed(0.02);
  Range loc0 = fixed(0.5), loc1 = fixed(0.5);
  Range freq0 = fixed(100.0), freq1 = fixed(100.0);
  double seed = 1.0;

  std::vector<double> args() const {
    std::vector<double> p = {0.0, dur, amp, period0, period1};
    for (const Range* r : {&offsetBegin, &offsetEnd, &dur0, &dur1, &loc0, &loc1, &freq0, &freq1})
      p.insert(p.end(), r->begin(), r->end());
    p.push_back(seed);
    return p;
  }
};

// Constant control functions (0), waveform and envelope (1): every grain
// frame is the amplitude.
std::unique_ptr<Engine> flurryEngine(int channels = 1) {
  EngineSettings settings;
  settings.sampleRate = 1000;
  settings.channels = channels;
  auto engine = makeEngine(settings);
  engine->load("flurry");
  for (int slot : {2, 3, 4, 5}) engine->setTable(slot, {0.0, 0.0});
  engine->setTable(6, {1.0, 1.0});
  engine->setTable(8, {1.0, 1.0});
  return engine;
}

struct Played {
  std::string printed;
  std::vector<float> frames;
};

Played play(Engine& engine, const Flurry& note) {
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(engine.callFunction("flurry", note.args()), 0.0);
  Played played;
  played.printed = ::testing::internal::GetCapturedStdout();
  played.frames = engine.renderToMemory();
  return played;
}

// Mono frames of 1 in each window [begin, end), 0 elsewhere.
std::vector<float> windows(size_t frames, std::initializer_list<std::pair<int, int>> spans) {
  std::vector<float> expected(frames, 0.0f);
  for (auto [begin, end] : spans)
    for (int f = begin; f < end; ++f) expected[size_t(f)] = 1.0f;
  return expected;
}

double valueAfter(unsigned seed, int draws) {
  srrand(seed);
  for (int i = 0; i < draws; ++i) rrand();
  return rrand();
}

}  // namespace

TEST(Flurry, FirstGrainThenItsGapThenOneGrainPerPeriod) {
  // Grains of 0.02 s every 50 frames. The first lasts trunc(0.02f x 1000.0f)
  // = 20 frames (the float product rounds up to 20); the later ones
  // trunc(0.02f x 1000.0 in double) = 19. Table positions run one frame
  // ahead per grain (0, 51, 102 ...), so a 300-frame note ends after six.
  auto engine = flurryEngine();
  Played played = play(*engine, Flurry{});
  EXPECT_EQ(played.printed, "\n6 grains\n");
  EXPECT_EQ(played.frames, windows(300, {{0, 20}, {50, 69}, {100, 119}, {150, 169}, {200, 219}, {250, 269}}));
  ASSERT_EQ(engine->messages().size(), 1u);
  EXPECT_EQ(engine->messages()[0].text, "Setting phrase curve to all 1's.");
}

TEST(Flurry, NoiseGrainsTakeOneDrawPerFrameAndNoFrequencyDraw) {
  struct Case {
    double seed;
    unsigned used;
  } cases[] = {{7.0, 7}, {2.9, 2}, {-3.0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "seed " << c.seed);
    auto engine = flurryEngine();
    Flurry note;
    note.freq0 = note.freq1 = fixed(-1.0);
    note.seed = c.seed;
    Played played = play(*engine, note);
    // The second grain (19 frames) follows 20 noise frames and the
    // duration, start offset and location draws, two values each.
    srrand(c.used);
    for (int f = 0; f < 20; ++f) EXPECT_EQ(played.frames[size_t(f)], float(rrand())) << "frame " << f;
    for (int i = 0; i < 6; ++i) rrand();
    for (int f = 50; f < 69; ++f) EXPECT_EQ(played.frames[size_t(f)], float(rrand())) << "frame " << f;
    EXPECT_EQ(played.frames[20], 0.0f);
    EXPECT_EQ(played.frames[69], 0.0f);
  }
}

TEST(Flurry, GainIsRecomputedOnEvenFramesOfEachGrain) {
  std::vector<double> envelope(101);
  for (size_t k = 0; k < envelope.size(); ++k) envelope[k] = 0.1 + double(k);
  for (int length : {7, 8}) {
    SCOPED_TRACE(::testing::Message() << "grains of " << length << " frames");
    auto engine = flurryEngine();
    engine->setTable(8, envelope);
    Flurry note;
    note.dur = 0.06;
    note.amp = 0.5;
    note.period0 = note.period1 = 0.02;
    note.dur0 = note.dur1 = fixed(length / 1000.0);
    Played played = play(*engine, note);
    EXPECT_EQ(played.printed, "\n3 grains\n");
    float tabs[2];
    tableset(1000.0f, float(length) / 1000.0f, int(envelope.size()), tabs);
    for (int grain = 0; grain < 3; ++grain) {
      for (int i = 0; i < length; ++i) {
        const float gain = float(tablei(2 * (i / 2), envelope.data(), tabs) * 0.5f * 1.0);
        EXPECT_EQ(played.frames[size_t(20 * grain + i)], gain) << "grain " << grain << " frame " << i;
      }
    }
  }
}

TEST(Flurry, OverlappingGrainsAdd) {
  // 25-frame grains every 10 frames: the gap of -15 moves the output back.
  auto engine = flurryEngine();
  Flurry note;
  note.dur = 0.1;
  note.period0 = note.period1 = 0.01;
  note.dur0 = note.dur1 = fixed(0.025);
  Played played = play(*engine, note);
  EXPECT_EQ(played.printed, "\n10 grains\n");
  std::vector<float> expected(115, 0.0f);
  for (int k = 0; k < 10; ++k)
    for (int f = 10 * k; f < 10 * k + 25; ++f) expected[size_t(f)] += 1.0f;
  EXPECT_EQ(played.frames, expected);
}

TEST(Flurry, StartOffsetMovesTheNextGrainUnlessItReachesBeforeTheStart) {
  struct Case {
    double offset, dur;
    const char* printed;
    std::vector<float> frames;
  } cases[] = {
      // From the second move on, shift trunc(-0.5 x (gap 30 + length 19)) = -24.
      {-0.5, 0.1, "\n3 grains\n", windows(100, {{0, 20}, {50, 69}, {76, 95}})},
      // A shift of -147 would reach before the start: only the gap applies,
      // and the next position, 102, ends the note.
      {-3.0, 0.102, "\n2 grains\n", windows(102, {{0, 20}, {50, 69}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "offset " << c.offset);
    auto engine = flurryEngine();
    Flurry note;
    note.dur = c.dur;
    note.offsetBegin = note.offsetEnd = fixed(c.offset);
    Played played = play(*engine, note);
    EXPECT_EQ(played.printed, c.printed);
    EXPECT_EQ(played.frames, c.frames);
  }
}

TEST(Flurry, LocationSplitsTwoChannelsAndSilencesTheRest) {
  double nextAfterMono = 0.0;
  for (int channels : {1, 2, 4}) {
    SCOPED_TRACE(::testing::Message() << channels << " channels");
    auto engine = flurryEngine(channels);
    Flurry note;
    note.loc0 = note.loc1 = fixed(0.3);
    Played played = play(*engine, note);
    const double next = rrand();
    const size_t frame = size_t(5 * channels);
    if (channels == 1) {
      nextAfterMono = next;
      EXPECT_EQ(played.frames[frame], 1.0f);
      continue;
    }
    EXPECT_EQ(next, nextAfterMono);  // mono draws the locations all the same
    EXPECT_EQ(played.frames[frame], 0.3f);
    EXPECT_EQ(played.frames[frame + 1], float(1.0 - double(0.3f)));
    for (int c = 2; c < channels; ++c) EXPECT_EQ(played.frames[frame + size_t(c)], 0.0f);
  }
}

TEST(Flurry, FrequencyDrawsBetweenItsSetsAtTableFive) {
  // Table 6 holds k at entry k and SR is 1000, so the grain's second frame
  // reads the phase after one step: the frequency in Hz.
  std::vector<double> ramp(1000);
  for (size_t k = 0; k < ramp.size(); ++k) ramp[k] = double(k);
  struct Case {
    double control;
    Range set0, set1;
    float hz;
  } cases[] = {
      {0.5, fixed(100.0), fixed(300.0), 200.0f},
      {0.0, {100.0, 200.0, 400.0, -1.0}, fixed(0.0), 400.0f},  // tightness -1 acts as 0
      {0.0, {300.0, 200.0, 100.0, 0.0}, fixed(0.0), 200.0f},   // bounds widen to the mid
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "set A " << c.set0[0] << " " << c.set0[1] << " " << c.set0[2]);
    auto engine = flurryEngine();
    engine->setTable(6, ramp);
    engine->setTable(5, {c.control, c.control});
    Flurry note;
    note.freq0 = c.set0;
    note.freq1 = c.set1;
    Played played = play(*engine, note);
    EXPECT_EQ(played.frames[0], 0.0f);
    EXPECT_EQ(played.frames[1], c.hz);
  }
}

TEST(Flurry, TablesAreExaminedInOrder) {
  const std::vector<std::pair<int, std::string>> order = {
      {6, "You haven't made the oscillator waveform (table 6)."},
      {8, "You haven't made the grain envelope (table 8)."},
      {2, "You haven't made the grain density function (table 2)."},
      {3, "You haven't made the grain duration function (table 3)."},
      {4, "You haven't made the grain location function (table 4)."},
      {5, "You haven't made the grain frequency function (table 5)."},
  };
  for (size_t first = 0; first < order.size(); ++first) {
    SCOPED_TRACE(order[first].second);
    EngineSettings settings;
    settings.sampleRate = 1000;
    auto engine = makeEngine(settings);
    engine->load("flurry");
    for (size_t k = 0; k < first; ++k) engine->setTable(order[k].first, {1.0, 1.0});
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(engine->callFunction("flurry", Flurry{}.args()), 0.0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    ASSERT_EQ(engine->messages().size(), 2u);
    EXPECT_EQ(engine->messages()[0].text, "Setting phrase curve to all 1's.");
    EXPECT_EQ(engine->messages()[1].text, order[first].second);
    EXPECT_EQ(engine->messages()[1].name, "flurry");
    EXPECT_EQ(engine->notesRefused(), 1);
  }
}

TEST(Flurry, NoteWithoutFramesReportsNoGrains) {
  auto engine = flurryEngine();
  Flurry note;
  note.dur = 0.0;
  EXPECT_EQ(play(*engine, note).printed, "\n0 grains\n");
  EXPECT_EQ(engine->notesRefused(), 0);
}

TEST(Flurry, PositionsThatStopAdvancingEndAtOneGrainPerFrame) {
  struct Case {
    const char* what;
    double period, offset;
  } cases[] = {
      // From the third grain on, shift -11 against an advance of 10: the
      // position stays put.
      {"offset -1.1", 0.01, -1.1},
      // Every move goes back 10 frames.
      {"period -0.01", -0.01, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto engine = flurryEngine();
    Flurry note;
    note.dur = 0.05;
    note.period0 = note.period1 = c.period;
    note.dur0 = note.dur1 = fixed(0.005);
    note.offsetBegin = note.offsetEnd = fixed(c.offset);
    EXPECT_EQ(play(*engine, note).printed, "\n50 grains\n");
  }
}

TEST(Flurry, ExportedProbIsTheBoundedDraw) {
  auto engine = flurryEngine();
  void* handle = dlopen(VEMORA_PLUGIN_DIR "/libflurry.so", RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(handle, nullptr);
  using Prob = double (*)(double, double, double, double);
  auto prob = reinterpret_cast<Prob>(dlsym(handle, "prob"));
  ASSERT_NE(prob, nullptr);

  srrand(9);
  EXPECT_EQ(prob(0.25, 0.25, 0.25, 1.0), 0.25);
  const double next = rrand();
  EXPECT_EQ(next, valueAfter(9, 2));

  // Sign from the first value, size ((r2 + 1) / 2)^tight from the second,
  // one spread, 1 - 0.3, on both sides of 0.3.
  for (unsigned seed : {4u, 5u, 6u}) {
    SCOPED_TRACE(::testing::Message() << "seed " << seed);
    srrand(seed);
    double expected;
    do {
      const double sign = float(rrand()) > 0.0f ? 1.0 : -1.0;
      expected = std::pow((rrand() + 1.0) * 0.5, 2.0) * (1.0 - 0.3) * sign + 0.3;
    } while (expected < 0.0 || expected > 1.0);
    const double after = rrand();
    srrand(seed);
    EXPECT_EQ(prob(0.0, 0.3, 1.0, 2.0), expected);
    EXPECT_EQ(rrand(), after);
  }

  // Nothing lies between a low above the high: the draw gives up on mid.
  EXPECT_EQ(prob(1.0, 0.5, 0.0, 1.0), 0.5);
  dlclose(handle);
}
