// Legacy note functions through the engine: placement, reading and writing
// by file number, growth past the placed length, die, score functions.
#include <gtest/gtest.h>

#include "support/TestEngine.h"

using namespace vemora;
using vemora::testing::giveInput;
using vemora::testing::lastMessage;
using vemora::testing::makeEngine;

namespace {

std::unique_ptr<Engine> legacyEngine(int channels = 2) {
  EngineSettings settings;
  settings.sampleRate = 1000;
  settings.blockFrames = 16;
  settings.channels = channels;
  auto engine = makeEngine(settings);
  engine->load("legacyprobe");
  return engine;
}

}  // namespace

TEST(LegacyNote, CopiesInputThroughReadsThatSplitFrames) {
  for (int step : {1, 7, 64}) {
    SCOPED_TRACE(step);
    auto engine = legacyEngine();
    giveInput(*engine, 100, 2, [](int f, int c) { return float(f + 1000 * c); });
    EXPECT_EQ(engine->callFunction("lp_copy", {0.010, 0.020, 0.030, double(step)}), 0.0);
    std::vector<float> out = engine->renderToMemory();
    ASSERT_EQ(out.size(), size_t(40) * 2);
    for (int f = 0; f < 40; ++f) {
      const float left = f < 10 ? 0.0f : float(f - 10 + 20);
      EXPECT_EQ(out[size_t(f) * 2], left) << "frame " << f;
      EXPECT_EQ(out[size_t(f) * 2 + 1], f < 10 ? 0.0f : left + 1000.0f) << "frame " << f;
    }
  }
}

TEST(LegacyNote, BufferGrowsPastThePlacedLengthAndStepsBack) {
  auto engine = legacyEngine(1);
  EXPECT_EQ(engine->callFunction("lp_frames", {0.005, 0.010, 5, 3}), 10.0);
  EXPECT_EQ(engine->scoreFrames(), 5 + 15);
  std::vector<float> out = engine->renderToMemory();
  std::vector<float> expected(20, 0.0f);
  for (int i = 0; i < 15; ++i) expected[size_t(5 + i)] = float(i + 1);
  for (int i = 12; i < 15; ++i) expected[size_t(5 + i)] += 1000.0f;
  EXPECT_EQ(out, expected);
}

TEST(LegacyNote, DieAbandonsTheNoteWithoutReturningIntoIt) {
  auto engine = legacyEngine();
  EXPECT_EQ(engine->callFunction("lp_die", {0.0, 0.010}), 0.0);
  EXPECT_EQ(lastMessage(*engine), "Refused on purpose.");
  EXPECT_EQ(engine->messages().back().kind, MessageKind::Refusal);
  EXPECT_EQ(engine->notesRefused(), 1);
  EXPECT_EQ(engine->scoreFrames(), 0);
  // The engine goes on with the next note.
  EXPECT_EQ(engine->callFunction("lp_frames", {0.0, 0.002, 0, 0}), 2.0);
  EXPECT_EQ(engine->renderToMemory(), (std::vector<float>{1, 1, 2, 2}));
}

TEST(LegacyNote, GetsampleInterpolatesAndFailsPastTheInput) {
  auto engine = legacyEngine(1);
  giveInput(*engine, 10, 1, [](int f, int) { return float(2 * f); });
  // From input frame 4 at half speed: 8, 9, 10, ... up to the last frame (18).
  EXPECT_EQ(engine->callFunction("lp_sample", {0.0, 0.004, 0.100, 0.5}), 11.0);
  std::vector<float> out = engine->renderToMemory();
  ASSERT_EQ(out.size(), 100u);
  for (int i = 0; i < 11; ++i) EXPECT_FLOAT_EQ(out[size_t(i)], float(8 + i)) << i;
  for (int i = 11; i < 100; ++i) EXPECT_EQ(out[size_t(i)], 0.0f) << i;
}

TEST(LegacyNote, InputPositionMovesBackByFrames) {
  auto engine = legacyEngine();
  giveInput(*engine, 20, 2, [](int f, int c) { return float(10 * f + c); });
  // From frame 3 read 5 samples (ending inside frame 5), step back 2 frames.
  EXPECT_EQ(engine->callFunction("lp_reread", {0.003, 0.010, 5, 2}), 31.0f);
}

TEST(LegacyNote, ScoreFunctionsReturnTheirValueAndPlayNoNote) {
  auto engine = legacyEngine();
  EXPECT_EQ(engine->callFunction("lp_sum", {1.5, 2.25}), 1.5 + 2.25 + 2000.0);
  EXPECT_EQ(engine->notesPlayed(), 0);
  EXPECT_EQ(engine->scoreFrames(), 0);
  EXPECT_THROW(engine->callFunction("nosuch", {}), ScoreError);
}

TEST(LegacyNote, RefusedPlacementRefusesTheNote) {
  auto engine = legacyEngine();
  engine->callFunction("lp_copy", {0.0, 0.0, 0.010, 4});
  EXPECT_NE(lastMessage(*engine).find("call rtinput first"), std::string::npos);
  EXPECT_EQ(engine->notesRefused(), 1);
  EXPECT_EQ(engine->notesPlayed(), 0);
  EXPECT_EQ(engine->scoreFrames(), 0);
}

TEST(LegacyNote, ScoreFunctionThatRefusesIsAScoreError) {
  auto engine = legacyEngine();
  try {
    engine->callFunction("lp_refuse", {1.0});
    FAIL() << "returned";
  } catch (const ScoreError& error) {
    EXPECT_EQ(std::string(error.what()), "lp_refuse: Needs two arguments, got 1.");
  }
  EXPECT_EQ(engine->callFunction("lp_refuse", {1.0, 2.0}), 1.0);
  EXPECT_EQ(engine->notesRefused(), 0);
}
