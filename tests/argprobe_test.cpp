// argprobe through the engine: the wrapping ramps read back from a rendered
// file, the constants, the channels past the second, zero-length notes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/TestEngine.h"

using namespace vemora;
using vemora::testing::makeEngine;

namespace fs = std::filesystem;

namespace {

std::unique_ptr<Engine> probeEngine(int channels = 2) {
  EngineSettings settings;
  settings.sampleRate = 1000;
  settings.blockFrames = 8;
  settings.channels = channels;
  auto engine = makeEngine(settings);
  EXPECT_EQ(engine->load("argprobe"), std::vector<std::string>{"argprobe"});
  return engine;
}

// Channel c of the interleaved frames.
std::vector<float> channel(const std::vector<float>& frames, int channels, int c) {
  std::vector<float> values;
  for (size_t i = size_t(c); i < frames.size(); i += size_t(channels)) values.push_back(frames[i]);
  return values;
}

std::vector<float> silence(size_t n) { return std::vector<float>(n, 0.0f); }

std::vector<float> concat(std::vector<float> a, const std::vector<float>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

// p2 = 1, p3 = 0.5, p4 = 0.25 from 3 ms for 12 ms: channel 0 climbs to 1.0
// and restarts at 0.25, channel 1 turns at 0.5. Any further channels are
// silent; a mono output gets channel 0 alone.
TEST(ArgProbe, RampsWrapToTheStepInTheRenderedFile) {
  const std::vector<float> ramp0 = {0, 0.25f, 0.5f, 0.75f, 1, 0.25f, 0.5f, 0.75f, 1, 0.25f, 0.5f, 0.75f};
  const std::vector<float> ramp1 = {0, 0.25f, 0.5f, 0.25f, 0.5f, 0.25f, 0.5f, 0.25f, 0.5f, 0.25f, 0.5f, 0.25f};
  const fs::path file = fs::temp_directory_path() / ("argprobe-test-" + std::to_string(getpid()) + ".wav");
  for (int channels : {2, 1, 4}) {
    SCOPED_TRACE(channels);
    auto engine = probeEngine(channels);
    EXPECT_EQ(engine->callFunction("argprobe", {0.003, 0.012, 1, 0.5, 0.25}), 0.0);
    EXPECT_TRUE(engine->messages().empty());
    RenderReport report = engine->renderToFile(file.string());
    ASSERT_EQ(report.frames, 15);
    std::unique_ptr<SoundInput> input = openSoundInput(file.string());
    ASSERT_EQ(input->channels(), channels);
    ASSERT_EQ(input->frames(), 15);
    std::vector<float> frames(size_t(15) * size_t(channels));
    input->read(0, 15, frames.data());
    EXPECT_EQ(channel(frames, channels, 0), concat(silence(3), ramp0));
    if (channels > 1) {
      EXPECT_EQ(channel(frames, channels, 1), concat(silence(3), ramp1));
    }
    for (int c = 2; c < channels; ++c) EXPECT_EQ(channel(frames, channels, c), silence(15)) << "channel " << c;
  }
  fs::remove(file);
}

// A step larger than a ceiling restarts that channel at the step on every
// frame rather than letting it run away.
TEST(ArgProbe, StepAboveTheCeilingHoldsAtTheStep) {
  auto engine = probeEngine();
  engine->callFunction("argprobe", {0, 0.004, 0.2, 2, 0.3});
  const std::vector<float> out = engine->renderToMemory();
  const float step = 0.3f;
  EXPECT_EQ(channel(out, 2, 0), (std::vector<float>{0, step, step, step}));
  EXPECT_EQ(channel(out, 2, 1), (std::vector<float>{0, step, step + step, step + step + step}));
}

// Without a positive step both channels hold constants: p2 and p3, or p2
// twice when p3 is absent too.
TEST(ArgProbe, ConstantsWithoutAPositiveStep) {
  struct Case {
    std::vector<double> args;
    float left, right;
  };
  const std::vector<Case> cases = {
      {{0, 0.005, 0.5, -0.25}, 0.5f, -0.25f},    {{0, 0.005, 0.5}, 0.5f, 0.5f},
      {{0, 0.005, 0.5, -0.25, 0}, 0.5f, -0.25f}, {{0, 0.005, 0.5, -0.25, -1}, 0.5f, -0.25f},
      {{0, 0.005, 0.1, 0.7, 0}, 0.1f, 0.7f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.args.size() << " pfields, p2 " << c.args[2]);
    auto engine = probeEngine();
    EXPECT_EQ(engine->callFunction("argprobe", c.args), 0.0);
    const std::vector<float> out = engine->renderToMemory();
    EXPECT_EQ(channel(out, 2, 0), std::vector<float>(5, c.left));
    EXPECT_EQ(channel(out, 2, 1), std::vector<float>(5, c.right));
  }
}

// A note of no length is placed and ended but adds no frame; a placement
// the engine refuses writes nothing either.
TEST(ArgProbe, NothingWrittenWithoutFrames) {
  auto engine = probeEngine();
  EXPECT_EQ(engine->callFunction("argprobe", {0.010, 0, 1, 1, 0.25}), 0.0);
  EXPECT_TRUE(engine->messages().empty());
  EXPECT_EQ(engine->notesPlayed(), 1);
  EXPECT_EQ(engine->scoreFrames(), 10);
  EXPECT_EQ(engine->callFunction("argprobe", {-1, 0.005, 1, 1, 0.25}), 0.0);
  EXPECT_FALSE(engine->messages().empty());
  EXPECT_EQ(engine->callFunction("argprobe", {0.002, 0.002, 1, 1, 0}), 0.0);
  const std::vector<float> expected = {0, 0, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(engine->renderToMemory(), expected);
}
