// twirl through the engine: where the two heads read, the shift heard on a
// sine, the control cadence, the early end when a head leaves the input,
// channel layouts and every refusal.
#include <gtest/gtest.h>

#include <cmath>

#include "support/TestEngine.h"

using namespace vemora;
using vemora::testing::giveInput;
using vemora::testing::lastMessage;
using vemora::testing::makeEngine;

namespace {

std::unique_ptr<Engine> twirlEngine(int sampleRate = 1000, int channels = 1, int controlRate = 1000) {
  EngineSettings settings;
  settings.sampleRate = sampleRate;
  settings.blockFrames = 64;
  settings.channels = channels;
  settings.controlRate = controlRate;
  auto engine = makeEngine(settings);
  engine->load("twirl");
  return engine;
}

void giveConstant(Engine& engine, int channels = 1) {
  giveInput(engine, 100, channels, [](int, int c) { return float(c + 1); });
}

int adviceCount(const Engine& engine) {
  int count = 0;
  for (const Message& m : engine.messages())
    count += m.kind == MessageKind::Advice && m.name == "twirl" && m.text == "Setting phrase curve to all 1's.";
  return count;
}

// Mean frequency of the upward zero crossings in out[begin, end).
double crossingFrequency(const std::vector<float>& out, int begin, int end, double rate) {
  double first = 0.0, last = 0.0;
  int count = 0;
  for (int j = begin; j + 1 < end; ++j) {
    if (out[size_t(j)] >= 0.0f || out[size_t(j) + 1] < 0.0f) continue;
    last = j + double(out[size_t(j)]) / double(out[size_t(j)] - out[size_t(j) + 1]);
    if (count++ == 0) first = last;
  }
  return (count - 1) * rate / (last - first);
}

}  // namespace

TEST(Twirl, HeadsStartHalfAWindowApartAndReadAtTheRatio) {
  // The ramp input[k] = k from frame 100 shows each head's read position;
  // window entries 2^k show each head's phase.
  const float twelveAndTwo = 12.0f + 100.0f * (1.02f - 1.0f);
  for (auto [interval, semitones] :
       {std::pair{0.0f, 0.0f}, {1.0f, 12.0f}, {0.07f, 7.0f}, {1.02f, twelveAndTwo}, {-1.02f, -twelveAndTwo}}) {
    for (int window : {10, 7, 1}) {
      for (bool phrase : {false, true}) {
        SCOPED_TRACE(::testing::Message() << "p4 = p5 = " << interval << ", W " << window << ", table 1 " << phrase);
        auto engine = twirlEngine();
        giveInput(*engine, 400, 1, [](int f, int) { return float(f); });
        std::vector<double> envelope;
        for (int k = 0; k < window; ++k) envelope.push_back(std::ldexp(1.0, k));
        engine->setTable(2, envelope);
        engine->setTable(3, {0.3, 0.9});
        if (phrase) engine->setTable(1, {0.25, 0.25});
        engine->callFunction("twirl", {0, 0.1, 0.05, phrase ? 2 : 0.5, interval, interval, window / 1000.0, 0, 0});
        EXPECT_EQ(adviceCount(*engine), phrase ? 0 : 1);
        const float increment = float(std::pow(2.0, double(semitones) / 12.0) - 1.0);
        const std::vector<float> out = engine->renderToMemory();
        ASSERT_EQ(out.size(), 50u);
        const int half = window / 2;
        auto weight = [&](int phase) { return float(envelope[size_t(float(phase) / float(window) * float(window))]); };
        for (int i = 0; i < 50; ++i) {
          const int phaseA = (1 + i) % window, phaseB = (half + 1 + i) % window;
          const float sampleA = float(100.0 + double(float(phaseA) * increment + float(i)));
          const float sampleB = float(100.0 + double(float(phaseB - half) * increment + float(i)));
          EXPECT_EQ(out[size_t(i)], (weight(phaseA) * sampleA + weight(phaseB) * sampleB) * 0.5f) << i;
        }
      }
    }
  }
}

TEST(Twirl, SineComesOutShiftedByTheInterval) {
  // A window open in its first half only: one head sounds at a time, so the
  // crossings inside each half window follow that head alone.
  std::vector<double> envelope(1000, 0.0);
  for (int k = 0; k < 500; ++k) envelope[size_t(k)] = std::sin(M_PI * k / 500.0);
  // semitones < -99: a glide, heard rising from segment to segment.
  struct Case {
    float from, to;
    std::vector<double> glide;
    double semitones;
  };
  for (const Case& c : {Case{0.07f, 0.07f, {0.9, 0.1, 0.5}, 7}, Case{1.02f, 1.02f, {0, 1}, 14},
                        Case{-1.02f, -1.02f, {1, 0}, -14}, Case{0.0f, 0.12f, {0, 1}, -100}}) {
    SCOPED_TRACE(::testing::Message() << c.from << " to " << c.to);
    auto engine = twirlEngine(44100);
    giveInput(*engine, 3 * 44100, 1, [](int f, int) { return float(std::sin(2 * M_PI * f / 100.0)); });
    engine->setTable(2, envelope);
    engine->setTable(3, c.glide);
    engine->callFunction("twirl", {0, 0.2, 1.0, 1, c.from, c.to, 0.2, 0, 0});
    const std::vector<float> out = engine->renderToMemory();
    ASSERT_EQ(out.size(), 44100u);
    double previous = -100.0;
    for (int m = 1; m < 9; ++m) {
      const double shift = 12.0 * std::log2(crossingFrequency(out, 4410 * m + 100, 4410 * m + 4300, 44100) / 441);
      if (c.semitones > -99) {
        EXPECT_NEAR(shift, c.semitones, 0.001) << m;
      } else {
        EXPECT_GT(shift, previous) << m;
      }
      previous = shift;
    }
    if (c.semitones < -99) {
      EXPECT_GT(previous, 10.0);
    }
  }
}

TEST(Twirl, CurvesAreReadEveryControlPeriodOfTheNote) {
  // Control rates of 1000, 2000 (a period of 0: every frame), 250 and 300.
  for (auto [controlRate, period] : {std::pair{1000, 1}, {2000, 1}, {250, 4}, {300, 3}}) {
    SCOPED_TRACE(controlRate);
    auto engine = twirlEngine(1000, 1, controlRate);
    giveConstant(*engine);
    std::vector<double> phrase;
    for (int k = 0; k <= 20; ++k) phrase.push_back(k);
    engine->setTable(1, phrase);
    engine->setTable(2, {0.5});
    engine->setTable(3, {0});
    engine->callFunction("twirl", {0, 0, 0.02, 1, 0, 0, 0.001, 0, 0});
    std::vector<float> expected;
    for (int i = 0; i < 20; ++i) expected.push_back(float(i - i % period));
    EXPECT_EQ(engine->renderToMemory(), expected);
  }
}

TEST(Twirl, NoteEndsWhereHeadBLeavesTheInput) {
  // An octave up from the input's start: at frame 4 head A reads frame 9 but
  // head B wraps to frame -1.
  auto engine = twirlEngine();
  giveConstant(*engine);
  engine->setTable(2, {1});
  engine->setTable(3, {0});
  engine->callFunction("twirl", {0, 0, 0.03, 1, 1.0, 1.0, 0.01, 0, 0});
  std::vector<float> expected(30, 0.0f);
  for (int i = 0; i < 4; ++i) expected[size_t(i)] = 2.0f;
  EXPECT_EQ(engine->renderToMemory(), expected);
  EXPECT_EQ(engine->notesPlayed(), 1);
  EXPECT_EQ(engine->notesRefused(), 0);
}

TEST(Twirl, AnyInputChannelOnAnyOutputLayout) {
  for (int channels : {1, 2, 4}) {
    SCOPED_TRACE(channels);
    auto engine = twirlEngine(1000, channels);
    giveConstant(*engine, 3);
    engine->setTable(2, {0.37});
    engine->setTable(3, {0});
    engine->callFunction("twirl", {0, 0, 0.005, 1, 0, 0, 0.01, 2, 0.01});
    const float sample = 0.37f * 3.0f + 0.37f * 3.0f;
    const std::vector<float> out = engine->renderToMemory();
    ASSERT_EQ(out.size(), size_t(5 * channels));
    for (int i = 0; i < 5; ++i) {
      const float* frame = &out[size_t(i * channels)];
      EXPECT_EQ(frame[0], channels == 1 ? sample : sample * 0.01f);
      if (channels > 1) {
        EXPECT_EQ(frame[1], float(sample * (1.0 - double(0.01f))));
      }
      for (int c = 2; c < channels; ++c) EXPECT_EQ(frame[c], 0.0f);
    }
  }
}

TEST(Twirl, RefusalsAbandonOnlyTheirNote) {
  struct Case {
    bool window, glide;
    float seconds, channel;
    const char* message;
  };
  for (Case c : {Case{false, true, 0.01f, 0, "You haven't made the window envelope (table 2)."},
                 Case{true, false, 0.01f, 0, "You haven't made the pitch shift envelope (table 3)."},
                 Case{true, true, 0.0005f, 0, "The window (p6) must be at least one frame long."},
                 Case{true, true, 0.01f, 1, "You asked for channel 1 of a 1-channel file."},
                 Case{true, true, 0.01f, -1, "You asked for channel -1 of a 1-channel file."}}) {
    SCOPED_TRACE(c.message);
    auto engine = twirlEngine();
    giveConstant(*engine);
    if (c.window) engine->setTable(2, {0.5});
    if (c.glide) engine->setTable(3, {0});
    engine->callFunction("twirl", {0, 0, 0.02, 1, 0, 0, c.seconds, c.channel, 0});
    EXPECT_EQ(lastMessage(*engine), c.message);
    EXPECT_EQ(engine->messages().back().name, "twirl");
    EXPECT_EQ(engine->notesRefused(), 1);
    engine->setTable(2, {0.5});
    engine->setTable(3, {0});
    engine->callFunction("twirl", {0.005, 0, 0.005, 1, 0, 0, 0.01, 0, 0});
    EXPECT_EQ(engine->renderToMemory(), (std::vector<float>{0, 0, 0, 0, 0, 1, 1, 1, 1, 1}));
  }
}
