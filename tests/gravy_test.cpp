// gravy through the engine: the exported formulas, grains read at the ratio
// and split over the output, the hops and the grain count, the envelope
// cadence, whole-frame reads of a wider input, every refusal.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "support/TestEngine.h"
#include "wavekit.h"

using namespace vemora;
using vemora::testing::giveInput;
using vemora::testing::lastMessage;
using vemora::testing::makeEngine;

namespace {

// 1000 Hz, so that p3 = 0.01 is a grain of 10 frames whose envelope table of
// 11 entries is read at one entry per frame.
std::unique_ptr<Engine> gravyEngine(int channels = 1, int controlRate = 1000) {
  EngineSettings settings;
  settings.sampleRate = 1000;
  settings.blockFrames = 16;
  settings.channels = channels;
  settings.controlRate = controlRate;
  auto engine = makeEngine(settings);
  engine->load("gravy");
  return engine;
}

// The plug-in's own exported function, from the copy the engine loaded.
template <class Fn>
Fn exported(Engine& engine, const char* name) {
  for (const std::string& folder : engine.pluginSearchPath()) {
    const std::string path = folder + "/libgravy.so";
    if (!std::filesystem::exists(path)) continue;
    void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle) return reinterpret_cast<Fn>(dlsym(handle, name));
  }
  return nullptr;
}

// The ramp input[k] = k: quadratic interpolation of it is exact, so a grain's
// output is its read position.
void giveRamp(Engine& engine, int channels = 1) {
  giveInput(engine, 2000, channels,
            [channels](int f, int c) { return c == channels - 1 ? float(f) : -1.0f - float(f); });
}

}  // namespace

TEST(Gravy, ExportedFormulas) {
  auto engine = gravyEngine();
  auto transpose = exported<float (*)(float)>(*engine, "transpose");
  auto interp = exported<double (*)(double, double, double, double)>(*engine, "interp");
  ASSERT_TRUE(transpose && interp);
  EXPECT_EQ(transpose(0.0f), 1.0f);
  EXPECT_EQ(transpose(1.0f), 2.0f);
  EXPECT_EQ(transpose(0.07f), float(std::pow(2.0, double(float(double(0.07f) / 0.12)))));
  EXPECT_EQ(transpose(-1.02f), float(std::pow(2.0, double(float(-1.0 + double(-1.02f + 1.0f) / 0.12)))));
  // (x + 1)^2 through its values at 0, 1 and 2.
  for (double x : {0.0, 0.5, 1.0, 1.5, 2.0, 3.0}) EXPECT_EQ(interp(1, 4, 9, x), (x + 1) * (x + 1)) << x;
  EXPECT_EQ(interp(0.3, -7.0, 1e9, 0.0), 0.3);
}

TEST(Gravy, OneGrainReadsAtTheRatioUnderTheEnvelopeOnEveryChannelLayout) {
  for (float interval : {0.0f, 1.0f, -1.0f, 0.07f}) {
    for (int channels : {1, 2, 4}) {
      SCOPED_TRACE(::testing::Message() << "p6 " << interval << ", " << channels << " channels");
      auto engine = gravyEngine(channels);
      giveRamp(*engine);
      std::vector<double> envelope(11);
      for (int i = 0; i < 11; ++i) envelope[size_t(i)] = 0.1 * (i + 1);
      engine->setTable(1, envelope);
      // 0.004 s of input makes 1.8 grains: one. At p6 = -1.00 its last
      // frames need input frames past the 6 that the grain covers.
      engine->callFunction("gravy", {0, 0.020, 0.004, 0.010, 0.5, 1, interval, 0, 0.01});
      const float ratio = exported<float (*)(float)>(*engine, "transpose")(interval);
      const std::vector<float> out = engine->renderToMemory();
      ASSERT_EQ(out.size(), size_t(10 * channels));
      double position = 0.0;
      for (int i = 0; i < 10; ++i, position += ratio) {
        const float sample = float(20.0 + position) * float(envelope[size_t(i)] * 0.5f);
        const float* frame = &out[size_t(i * channels)];
        EXPECT_EQ(frame[0], channels == 1 ? sample : sample * 0.01f) << i;
        if (channels > 1) {
          EXPECT_EQ(frame[1], float(sample * (1.0 - double(0.01f)))) << i;
        }
        for (int c = 2; c < channels; ++c) EXPECT_EQ(frame[c], 0.0f) << i;
      }
    }
  }
}

TEST(Gravy, GrainsHopHalfAWindowOutAndHalfOverTheStretchIn) {
  // An envelope open for the first half of a grain only: each output half
  // window is exactly one grain's input.
  for (float stretch : {1.0f, 2.0f, 0.5f, 3.0f}) {
    SCOPED_TRACE(stretch);
    auto engine = gravyEngine();
    giveRamp(*engine);
    engine->setTable(1, {1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0});
    engine->callFunction("gravy", {0, 0.1, 0.02, 0.01, 1, stretch, 0, 0, 0});
    const int grains = int(double(0.02f * stretch) / (double(0.01f) * 0.5) + 1.0);
    const int hop = int(std::floor(5 * (1.0 / double(stretch))));
    const std::vector<float> out = engine->renderToMemory();
    ASSERT_EQ(out.size(), size_t(std::max(20, (grains - 1) * 5 + 10)));
    for (int g = 0; g < grains; ++g)
      for (int i = 0; i < 5; ++i) EXPECT_EQ(out[size_t(g * 5 + i)], float(100 + g * hop + i)) << g << " " << i;
  }
  // The grain count is truncated after single-precision pfields enter double
  // arithmetic; a negative count writes no grain but keeps the note.
  struct Case {
    float window, stretch;
    int grains;
  };
  for (Case c : {Case{0.25f, 1, 9}, Case{0.25f, 2, 17}, Case{0.1f, 1, 20}, Case{0.25f, -1, 0}}) {
    SCOPED_TRACE(::testing::Message() << c.window << " s window, stretch " << c.stretch);
    auto engine = gravyEngine();
    giveInput(*engine, 100, 1, [](int, int) { return 1.0f; });
    engine->setTable(1, {1, 1});
    engine->callFunction("gravy", {0, 0, 1, c.window, 1, c.stretch, 0, 0, 0});
    const int grainFrames = int(c.window * 1000 + 0.5f);
    EXPECT_EQ(engine->scoreFrames(), c.grains ? (c.grains - 1) * (grainFrames - grainFrames / 2) + grainFrames : 1000);
    EXPECT_EQ(engine->notesPlayed(), 1);
  }
}

TEST(Gravy, EnvelopeIsReadAtFrameZeroOfEveryGrain) {
  // Control rates of 1000/142 = 7, 3, 1 and 0 frames: 0 reads every frame.
  for (auto [controlRate, period] : {std::pair{142, 7}, {300, 3}, {1000, 1}, {2000, 1}}) {
    SCOPED_TRACE(controlRate);
    auto engine = gravyEngine(1, controlRate);
    giveInput(*engine, 100, 1, [](int, int) { return 1.0f; });
    engine->setTable(1, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    engine->callFunction("gravy", {0, 0, 0.02, 0.01, 1, 1, 0, 0, 0});
    std::vector<float> expected(30, 0.0f);
    for (int g = 0; g < 5; ++g)
      for (int i = 0; i < 10; ++i) expected[size_t(g * 5 + i)] += float(1 + i - i % period);
    EXPECT_EQ(engine->renderToMemory(), expected);
  }
}

TEST(Gravy, WiderInputKeepsItsChannelWhenAGrainIsNotWholeFrames) {
  // At seven semitones up a grain covers 2 x 15.98 = 31 samples of a stereo
  // input: the reads stay on frame boundaries, so every grain reads channel 1.
  auto engine = gravyEngine();
  giveRamp(*engine, 2);
  engine->setTable(1, {1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0});
  engine->callFunction("gravy", {0, 0.1, 0.02, 0.01, 1, 1, 0.07, 1, 0});
  const float ratio = exported<float (*)(float)>(*engine, "transpose")(0.07f);
  const std::vector<float> out = engine->renderToMemory();
  ASSERT_EQ(out.size(), 30u);
  for (int g = 0; g < 5; ++g) {
    double position = 0.0;
    for (int i = 0; i < 5; ++i, position += ratio)
      EXPECT_EQ(out[size_t(g * 5 + i)], float(100 + 5 * g + position)) << g << " " << i;
  }
}

TEST(Gravy, RefusalsAbandonOnlyTheirNote) {
  struct Case {
    bool table;
    float window, interval, channel;
    const char* message;
  };
  for (Case c : {Case{false, 0.01f, 0, 0, "You haven't made a window envelope function (table 1)."},
                 Case{true, 0.0f, 0, 0, "The window (p3) must be at least one frame long."},
                 Case{true, 0.01f, 0, 1, "You asked for channel 1 of a 1-channel file."},
                 Case{true, 0.01f, 0, -1, "You asked for channel -1 of a 1-channel file."},
                 Case{true, 0.01f, 40.0f, 0, "Error allocating input array... sorry!"}}) {
    SCOPED_TRACE(c.message);
    auto engine = gravyEngine();
    giveInput(*engine, 100, 1, [](int, int) { return 1.0f; });
    if (c.table) engine->setTable(1, {1, 1});
    engine->callFunction("gravy", {0, 0, 0.02, c.window, 1, 1, c.interval, c.channel, 0});
    EXPECT_EQ(lastMessage(*engine), c.message);
    EXPECT_EQ(engine->messages().back().name, "gravy");
    EXPECT_EQ(engine->notesRefused(), 1);
    engine->setTable(1, {1, 1});
    engine->callFunction("gravy", {0.005, 0, 0.004, 0.01, 1, 1, 0, 0, 0});
    const std::vector<float> out = engine->renderToMemory();
    EXPECT_EQ(out, (std::vector<float>{0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
  }
}
