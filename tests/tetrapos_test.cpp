// TETRAPOS: the corner gains, the frames they make as the source moves, the
// refresh cadence over any chunking, every refusal.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "../insts/extra/TETRAPOS/QuadGains.h"
#include "support/TestEngine.h"

using namespace vemora;
using vemora::testing::giveInput;
using vemora::testing::lastMessage;
using vemora::testing::makeEngine;
using vemora::testing::makeTable;

namespace {

std::unique_ptr<Engine> quadEngine(int controlRate = 1000, int channels = 4, int inputChannels = 1) {
  EngineSettings settings;
  settings.sampleRate = 1000;
  settings.controlRate = controlRate;
  settings.blockFrames = 64;
  settings.channels = channels;
  auto engine = makeEngine(settings);
  engine->load("TETRAPOS");
  giveInput(*engine, 2000, inputChannels, [](int f, int c) { return 0.25f + 0.001f * float(f) - float(c); });
  return engine;
}

std::array<double, 4> gainsAt(double x, double y) {
  std::array<double, 4> g;
  tetrapos::quadGains(std::clamp(x, -1.0, 1.0), std::clamp(y, -1.0, 1.0), tetrapos::kSpeakerAngles, g.data());
  return g;
}

}  // namespace

TEST(Tetrapos, GainsAtTheCentreCornersAndEdges) {
  EXPECT_EQ(gainsAt(0, 0),
            (std::array<double, 4>{0.5000000000000001, 0.5000000000000001, 0.5000000000000001, 0.5000000000000001}));
  EXPECT_EQ(gainsAt(0.5, 0),
            (std::array<double, 4>{0.223606797749979, 0.6708203932499369, 0.223606797749979, 0.6708203932499369}));
  const std::array<double, 4> corner = gainsAt(1, 1);
  EXPECT_EQ(corner[1], 1.0);
  EXPECT_NEAR(corner[0], 6.1e-17, 0.05e-17);
  EXPECT_NEAR(corner[3], 6.1e-17, 0.05e-17);
  EXPECT_NEAR(corner[2], 3.7e-33, 0.05e-33);
  EXPECT_EQ(gainsAt(2, 0), gainsAt(1, 0));
  for (double x = -1; x <= 1; x += 0.125)
    for (double y = -1; y <= 1; y += 0.25) {
      const std::array<double, 4> g = gainsAt(x, y);
      EXPECT_NEAR(g[0] * g[0] + g[1] * g[1] + g[2] * g[2] + g[3] * g[3], 1.0, 1e-15) << x << ", " << y;
    }
}

// y and the amplitude move every frame, x for the first half, both across
// the edges of the field; the frames show the values read at the last
// refresh, which falls on note frames 0, N, 2N ... (N = 0: every frame).
TEST(Tetrapos, MovingSourceRefreshesAtFixedNoteFramesOverAnyChunking) {
  const int frames = 101;
  std::vector<double> xs(frames), ys(frames), amps(frames);
  for (int f = 0; f < frames; ++f) {
    xs[size_t(f)] = f < 50 ? -1.2 + 0.05 * f : 0.4;
    ys[size_t(f)] = 0.9 - 0.02 * f;
    amps[size_t(f)] = 1 + 0.01 * f;
  }
  for (int controlRate : {100, 333, 1000, 5000}) {
    const int period = int(1000.0f / float(controlRate));
    for (const std::vector<int>& chunks : {std::vector<int>{64}, {1}, {7, 3, 50}, {13}}) {
      SCOPED_TRACE(::testing::Message() << "control rate " << controlRate << " first chunk " << chunks[0]);
      auto engine = quadEngine(controlRate, 4, 2);
      NoteCapture note = engine->playNoteAlone(
          "TETRAPOS", {0, 0.01, frames / 1000.0, makeTable(amps), makeTable(xs), makeTable(ys), 1.9}, chunks);
      for (int f = 0; f < frames; ++f) {
        const int r = period <= 0 ? f : f / period * period;
        const std::array<double, 4> g = gainsAt(xs[size_t(r)], ys[size_t(r)]);
        const float in = float((0.25f + 0.001f * float(f + 10) - 1.0f) * amps[size_t(r)]);
        for (int j = 0; j < 4; ++j)
          ASSERT_EQ(note.frames[size_t(f) * 4 + size_t(j)], float(g[size_t(j)] * in)) << "frame " << f;
      }
    }
  }
}

TEST(Tetrapos, RefusesWrongPFieldCountsOutputsAndChannels) {
  const std::string usage = "Usage: TETRAPOS(start, inskip, dur, amp, srcX, srcY [, inchan]";
  for (const std::vector<PField>& p : {std::vector<PField>{0, 0, 1, 1, 0}, {0, 0, 1, 1, 0, 0, 0, 0}, {}}) {
    SCOPED_TRACE(p.size());
    auto engine = quadEngine();
    EXPECT_TRUE(engine->playNoteAlone("TETRAPOS", p, {64}).refused);
    EXPECT_EQ(lastMessage(*engine), usage);
    EXPECT_EQ(engine->messages().back().name, "TETRAPOS");
  }
  for (int channels : {1, 2, 3, 8}) {
    SCOPED_TRACE(channels);
    auto engine = quadEngine(1000, channels);
    EXPECT_TRUE(engine->playNoteAlone("TETRAPOS", {0, 0, 1, 1, 0, 0}, {64}).refused);
    EXPECT_EQ(lastMessage(*engine), "Must have 4 output channels.");
  }
  for (auto [channel, shown] : {std::pair{2.0, 2}, {2.9, 2}, {-1.0, -1}, {-0.5, 0}, {1e12, -1}, {NAN, -1}}) {
    SCOPED_TRACE(channel);
    auto engine = quadEngine(1000, 4, 2);
    const bool refused = engine->playNoteAlone("TETRAPOS", {0, 0, 0.01, 1, 0, 0, channel}, {64}).refused;
    EXPECT_EQ(refused, shown != 0);
    if (refused) {
      EXPECT_EQ(lastMessage(*engine), "You asked for channel " + std::to_string(shown) + " of 2-channel input.");
    }
  }
}
