// PAN through the engine: gains of both laws, clamping, the table and pfield
// sources of the pan, the refresh cadence over any chunking, every refusal.
#include <gtest/gtest.h>

#include <cmath>

#include "support/TestEngine.h"
#include "wavekit.h"

using namespace vemora;
using vemora::testing::giveInput;
using vemora::testing::lastMessage;
using vemora::testing::makeEngine;
using vemora::testing::makeTable;

namespace {

struct Gains {
  float left, right;
};

Gains expectedGains(float pan, bool linear) {
  pan = std::min(1.0f, std::max(0.0f, pan));
  if (linear) return {pan, 1.0f - pan};
  return {std::sqrt(pan), float(std::sqrt(1.0 - double(pan)))};
}

// An engine at 1000 Hz with a constant mono input of 0.5 (exact in float).
std::unique_ptr<Engine> panEngine(int controlRate = 1000, int channels = 2) {
  EngineSettings settings;
  settings.sampleRate = 1000;
  settings.controlRate = controlRate;
  settings.blockFrames = 64;
  settings.channels = channels;
  auto engine = makeEngine(settings);
  engine->load("PAN");
  giveInput(*engine, 2000, 1, [](int, int) { return 0.5f; });
  return engine;
}

}  // namespace

TEST(Pan, GainsFollowTheLawAndClampThePan) {
  for (float pan : {0.5f, 0.0f, 0.1f, 0.25f, 0.7f, 1.0f, 1.7f, -3.0f}) {
    for (int law : {0, 1}) {
      SCOPED_TRACE(::testing::Message() << "pan " << pan << " law " << law);
      auto engine = panEngine();
      NoteCapture note = engine->playNoteAlone("PAN", {0, 0, 0.004, 2.0, 0, double(law), double(pan)}, {64});
      ASSERT_FALSE(note.refused);
      const Gains gains = expectedGains(pan, law == 1);
      const float x = 0.5f * 2.0f;
      for (int f = 0; f < 4; ++f) {
        EXPECT_EQ(note.frames[size_t(f) * 2], gains.left * x);
        EXPECT_EQ(note.frames[size_t(f) * 2 + 1], x * gains.right);
      }
    }
  }
  const Gains half = expectedGains(0.5f, false);
  EXPECT_EQ(half.left, std::sqrt(0.5f));
  EXPECT_EQ(half.right, half.left);
}

TEST(Pan, SevenPFieldsNeverLookUpTableTwo) {
  auto engine = panEngine();
  NoteCapture note = engine->playNoteAlone("PAN", {0, 0, 0.002, 1.0, 0, 0, 1.0}, {64});
  EXPECT_FALSE(note.refused);
  EXPECT_TRUE(engine->messages().empty());
  EXPECT_TRUE(engine->playNoteAlone("PAN", {0, 0, 0.002, 1.0, 0, 0}, {64}).refused);
  EXPECT_EQ(lastMessage(*engine), "Either use the pan pfield (p6) or make an old-style gen function in slot 2.");
  EXPECT_EQ(engine->messages().back().name, "PAN");
}

TEST(Pan, FivePFieldsTakeConstantPowerAndThePanCurve) {
  auto engine = panEngine();
  engine->setTable(2, {0.3, 0.3});
  NoteCapture note = engine->playNoteAlone("PAN", {0, 0, 0.003, 1.0, 0}, {64});
  const Gains gains = expectedGains(0.3f, false);
  EXPECT_EQ(note.frames[0], gains.left * 0.5f);
  EXPECT_EQ(note.frames[1], 0.5f * gains.right);
}

TEST(Pan, ReadsTheChosenChannelFromInskip) {
  auto engine = panEngine();
  giveInput(*engine, 100, 2, [](int f, int c) { return float(f + 100 * c); });
  NoteCapture note = engine->playNoteAlone("PAN", {0, 0.010, 0.003, 1.0, 1, 1, 1.0}, {64});
  EXPECT_EQ(note.frames, (std::vector<float>{110, 0, 111, 0, 112, 0}));
}

TEST(Pan, RefusesChannelsOutsideTheInputAndNonStereoOutput) {
  auto engine = panEngine();
  giveInput(*engine, 100, 2, [](int, int) { return 0.0f; });
  for (double channel : {2.0, 7.9, -1.0}) {
    SCOPED_TRACE(channel);
    EXPECT_TRUE(engine->playNoteAlone("PAN", {0, 0, 0.01, 1, channel, 0, 0.5}, {64}).refused);
    EXPECT_EQ(lastMessage(*engine), "You asked for channel " + std::to_string(int(channel)) + " of a 2-channel file.");
  }
  for (int channels : {1, 4}) {
    SCOPED_TRACE(channels);
    auto other = panEngine(1000, channels);
    EXPECT_FALSE(other->playNote("PAN", {0, 0, 0.01, 1, 0, 0, 0.5}));
    EXPECT_EQ(lastMessage(*other), "Output must be stereo.");
  }
}

// A changing amplitude shows when PAN refreshes: the output holds the value
// read at the last refresh. Refreshes fall on note frames 0, N, 2N ...
// whatever the chunk sizes; N = 0 refreshes every frame.
TEST(Pan, RefreshesAtFixedNoteFramesOverAnyChunking) {
  const std::vector<std::vector<int>> chunkings = {{64}, {1}, {7, 3, 50}, {10}, {13}};
  for (int controlRate : {100, 333, 1000, 5000}) {
    const int period = int(1000.0f / float(controlRate));
    for (const std::vector<int>& chunks : chunkings) {
      SCOPED_TRACE(::testing::Message() << "control rate " << controlRate << " first chunk " << chunks[0]);
      auto engine = panEngine(controlRate);
      const int frames = 101;
      std::vector<double> ramp(frames);
      for (int f = 0; f < frames; ++f) ramp[size_t(f)] = f + 1;
      NoteCapture note = engine->playNoteAlone("PAN", {0, 0, frames / 1000.0, makeTable(ramp), 0, 1, 1.0}, chunks);
      ASSERT_EQ(note.noteFrames, frames);
      for (int f = 0; f < frames; ++f) {
        const int refreshed = period <= 0 ? f : f / period * period;
        ASSERT_EQ(note.frames[size_t(f) * 2], float(refreshed + 1) * 0.5f) << "frame " << f;
      }
    }
  }
}

TEST(Pan, AmplitudeCurveIsReadInterpolatedAtRefreshFrames) {
  auto engine = panEngine(100);
  engine->setTable(1, {0.0, 1.0, 0.25});
  NoteCapture note = engine->playNoteAlone("PAN", {0, 0, 0.050, 2.0, 0, 1, 1.0}, {16});
  float tabs[2];
  tableset(1000.0f, 0.050f, 3, tabs);
  std::vector<double> curve = {0.0, 1.0, 0.25};
  for (int f = 0; f < 50; ++f) {
    const int refreshed = f / 10 * 10;
    const float amp = 2.0f * float(tablei(refreshed, curve.data(), tabs));
    EXPECT_EQ(note.frames[size_t(f) * 2], 1.0f * (0.5f * amp)) << "frame " << f;
  }
}

TEST(Pan, ChangingTheLawAloneKeepsTheGainsInForce) {
  auto engine = panEngine();
  NoteCapture note = engine->playNoteAlone("PAN", {0, 0, 0.020, 1.0, 0, makeTable({0, 1}), 0.5}, {64});
  const float gain = std::sqrt(0.5f);
  for (int f = 0; f < 20; ++f) {
    EXPECT_EQ(note.frames[size_t(f) * 2], gain * 0.5f) << f;
    EXPECT_EQ(note.frames[size_t(f) * 2 + 1], 0.5f * gain) << f;
  }
}

TEST(Pan, TablePanMovesTheSoundAcrossTheField) {
  auto engine = panEngine();
  engine->setTable(2, {1.0, 0.0});
  ASSERT_TRUE(engine->playNote("PAN", {0, 0, 1.0, 1.0, 0, 1}));
  std::vector<float> out = engine->renderToMemory();
  ASSERT_EQ(out.size(), 2000u);
  EXPECT_EQ(out[0], 0.5f);
  EXPECT_EQ(out[1], 0.0f);
  EXPECT_NEAR(out[1998], 0.0f, 1e-3);
  EXPECT_NEAR(out[1999], 0.5f, 1e-3);
  for (int f = 0; f < 1000; ++f) EXPECT_FLOAT_EQ(out[size_t(f) * 2] + out[size_t(f) * 2 + 1], 0.5f) << f;
}
