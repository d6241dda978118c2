// The delay-line functions exported by the REEDPIPE plug-in, and REEDPIPE
// through the engine: the reed model frame by frame, the table cadence over
// any chunking, the channel layouts, the advisories and refusals.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <limits>
#include <string>

#include "support/TestEngine.h"
#include "wavekit.h"

using namespace vemora;
using vemora::testing::lastMessage;
using vemora::testing::makeEngine;

namespace {

using SetFn = void (*)(float, float*, int*, int);
using GetFn = float (*)(float*, int, int*);
using InterpFn = float (*)(float*, float, int*);

struct DelayFunctions {
  SetFn mdelset = nullptr;
  GetFn mdelget = nullptr;
  InterpFn mdliget = nullptr;
};

// The functions as another plug-in would bind them: by their plain names
// from the REEDPIPE plug-in that the engine has loaded.
const DelayFunctions& delayFunctions() {
  static const DelayFunctions functions = [] {
    auto engine = makeEngine();
    engine->load("REEDPIPE");
    // Our own reference keeps the plug-in mapped once the engine is gone.
    void* handle = dlopen(VEMORA_PLUGIN_DIR "/libREEDPIPE.so", RTLD_NOW | RTLD_NOLOAD);
    DelayFunctions found;
    if (handle) {
      found.mdelset = reinterpret_cast<SetFn>(dlsym(handle, "mdelset"));
      found.mdelget = reinterpret_cast<GetFn>(dlsym(handle, "mdelget"));
      found.mdliget = reinterpret_cast<InterpFn>(dlsym(handle, "mdliget"));
    }
    return found;
  }();
  return functions;
}

constexpr int kLength = 500;

// A line of 500 slots holding k + 1 in slot k, between two guard slots.
struct MarkedLine {
  std::array<float, kLength + 2> storage;
  int record[3] = {0, 44100, kLength};
  explicit MarkedLine(int writeIndex) {
    for (int k = 0; k < kLength; ++k) storage[size_t(k) + 1] = float(k + 1);
    storage.front() = storage.back() = 9999.0f;
    record[0] = writeIndex;
  }
  float* line() { return storage.data() + 1; }
};

}  // namespace

class DelayLines : public ::testing::Test {
 protected:
  void SetUp() override {
    fn = delayFunctions();
    ASSERT_NE(fn.mdelset, nullptr);
    ASSERT_NE(fn.mdelget, nullptr);
    ASSERT_NE(fn.mdliget, nullptr);
  }
  DelayFunctions fn;
};

TEST_F(DelayLines, SetClearsTheLineAndEveryReadIsSilent) {
  MarkedLine marked(123);
  marked.record[1] = 7;
  fn.mdelset(44100.9f, marked.line(), marked.record, kLength);
  EXPECT_EQ(marked.record[0], 0);
  EXPECT_EQ(marked.record[1], 44100);
  EXPECT_EQ(marked.record[2], kLength);
  EXPECT_EQ(marked.storage.front(), 9999.0f);
  EXPECT_EQ(marked.storage.back(), 9999.0f);
  for (int delay = 0; delay <= 2 * kLength; ++delay) {
    SCOPED_TRACE(delay);
    ASSERT_EQ(fn.mdelget(marked.line(), delay, marked.record), 0.0f);
    ASSERT_EQ(fn.mdliget(marked.line(), float(delay) + 0.5f, marked.record), 0.0f);
  }
  for (int length : {0, -3}) {
    SCOPED_TRACE(length);
    MarkedLine untouched(5);
    fn.mdelset(-12.7f, untouched.line(), untouched.record, length);
    EXPECT_EQ(untouched.record[0], 0);
    EXPECT_EQ(untouched.record[1], -12);
    EXPECT_EQ(untouched.record[2], length);
    EXPECT_EQ(untouched.line()[0], 1.0f);
    EXPECT_EQ(untouched.storage.front(), 9999.0f);
  }
}

TEST_F(DelayLines, WholeSampleReadsWrapOnceThenFallSilent) {
  MarkedLine marked(10);
  // delay -> slot read (slot k holds k + 1), or -1 for 0.0.
  const std::vector<std::pair<int, int>> cases = {{1, 9},
                                                  {3, 7},
                                                  {10, 0},
                                                  {11, 499},
                                                  {0, 10},
                                                  {500, 10},
                                                  {510, 0},
                                                  {509, 1},
                                                  {511, -1},
                                                  {512, -1},
                                                  {100000, -1},
                                                  {INT_MAX, -1},
                                                  // Negative delays never read past the array.
                                                  {-1, 11},
                                                  {-489, 499},
                                                  {-490, -1},
                                                  {INT_MIN, -1}};
  for (const auto& [delay, slot] : cases) {
    SCOPED_TRACE(delay);
    EXPECT_EQ(fn.mdelget(marked.line(), delay, marked.record), slot < 0 ? 0.0f : float(slot + 1));
  }
  // A write index outside the line reads silence rather than stray memory.
  MarkedLine broken(kLength + 3);
  EXPECT_EQ(fn.mdelget(broken.line(), 1, broken.record), 0.0f);
  EXPECT_EQ(fn.mdelget(broken.line(), 0, broken.record), 0.0f);
}

TEST_F(DelayLines, ReadsAfterPutsFindTheSampleWrittenThatManyPutsAgo) {
  std::array<float, kLength> line;
  int record[3];
  fn.mdelset(44100.0f, line.data(), record, kLength);
  std::vector<float> written;
  for (int n = 0; n < 1234; ++n) {
    written.push_back(float(std::sin(n * 0.37)) * 0.8f);
    delput(written.back(), line.data(), record);
  }
  auto ago = [&](int d) { return written[written.size() - size_t(d)]; };
  for (int d = 1; d <= kLength; ++d) {
    SCOPED_TRACE(d);
    ASSERT_EQ(fn.mdelget(line.data(), d, record), ago(d));
    if (d < kLength) {
      ASSERT_EQ(fn.mdliget(line.data(), float(d), record), ago(d));
      ASSERT_EQ(fn.mdliget(line.data(), float(d) + 0.25f, record), ago(d) + (ago(d + 1) - ago(d)) * 0.25f);
    }
  }
  EXPECT_EQ(fn.mdelget(line.data(), 0, record), ago(kLength));
}

TEST_F(DelayLines, FractionalReadsInterpolateAndWrapLikeWholeReads) {
  for (int writeIndex : {0, 1, 2, 10, 499}) {
    SCOPED_TRACE(writeIndex);
    MarkedLine marked(writeIndex);
    EXPECT_EQ(fn.mdliget(marked.line(), 2.0f, marked.record), fn.mdelget(marked.line(), 2, marked.record));
  }
  MarkedLine at10(10);
  float* line = at10.line();
  // Slots 7 and 6 hold 8 and 7: a quarter of the way from 8 toward 7.
  EXPECT_EQ(fn.mdliget(line, 3.25f, at10.record), 8.0f + (7.0f - 8.0f) * 0.25f);
  // Delay 10: slot 0, then slot 499.
  EXPECT_EQ(fn.mdliget(line, 10.5f, at10.record), 1.0f + (500.0f - 1.0f) * 0.5f);
  // Delay 509: wrapped to slot 1, the neighbour is slot 0.
  EXPECT_EQ(fn.mdliget(line, 509.5f, at10.record), 2.0f + (1.0f - 2.0f) * 0.5f);
  // Delay 510 wraps to slot 0, whose neighbour would lie before the line.
  EXPECT_EQ(fn.mdliget(line, 510.5f, at10.record), 0.0f);
  EXPECT_EQ(fn.mdliget(line, 3000.0f, at10.record), 0.0f);

  MarkedLine at0(0);
  EXPECT_EQ(fn.mdliget(at0.line(), 0.5f, at0.record), 1.0f + (500.0f - 1.0f) * 0.5f);
  EXPECT_EQ(fn.mdliget(at0.line(), 500.5f, at0.record), 0.0f);

  // Delays no int can hold, NaN, and negative delays that would reach past
  // the newest slot all read silence.
  MarkedLine at499(499);
  for (float delay : {1e20f, -1e20f, std::numeric_limits<float>::quiet_NaN(), -1.5f}) {
    SCOPED_TRACE(delay);
    EXPECT_EQ(fn.mdliget(at499.line(), delay, at499.record), 0.0f);
  }
}

namespace {

// The reed model, written out from its definition: two 500-slot lines read
// at whole delays, the breath, the reed curve, the low-pass and the output,
// with tables read at frames 0, P, 2P ...
struct ReedModel {
  struct Line {
    std::array<float, kLength> slots{};
    int writeIndex = 0;
    float read(int delay) const {
      int i = writeIndex - delay;
      if (i < 0) i += kLength;
      return i < 0 ? 0.0f : slots[size_t(i)];
    }
    void put(float x) {
      slots[size_t(writeIndex)] = x;
      writeIndex = (writeIndex + 1) % kLength;
    }
  };

  float sr = 44100.0f;
  int period = 44;
  float noiseAmp = 0.0f, amp = 1.0f, reflMix = 0.45f;
  int delay1 = 1, delay2 = 1;
  double duration = 0.1;
  std::vector<double> noiseCurve, ampCurve;  // empty: absent

  static float clip(float v) { return std::max(-1.0f, std::min(1.0f, v)); }

  // The mono output of every frame; draws rrand from the given seed.
  std::vector<float> play(int frames, unsigned seed) const {
    srrand(seed);
    float noiseTabs[2], ampTabs[2];
    if (!noiseCurve.empty()) tableset(sr, float(duration), int(noiseCurve.size()), noiseTabs);
    if (!ampCurve.empty()) tableset(sr, float(duration), int(ampCurve.size()), ampTabs);
    Line line1, line2;
    float prev = 0.0f, noiseLevel = 1.0f, ampLevel = 1.0f;
    std::vector<float> out;
    for (int f = 0; f < frames; ++f) {
      if (period <= 0 || f % period == 0) {
        if (!noiseCurve.empty()) noiseLevel = float(table(f, const_cast<double*>(noiseCurve.data()), noiseTabs));
        if (!ampCurve.empty()) ampLevel = float(tablei(f, const_cast<double*>(ampCurve.data()), ampTabs));
      }
      const float noise = float(rrand()) * noiseAmp;
      const float c1 = clip(line1.read(delay1));
      const float c2 = clip(line2.read(delay2));
      const double refl = 0.9 * (double(c2 * reflMix) + (0.9 - double(reflMix)) * double(c1));
      const float breath = noise * noiseLevel + noiseLevel;
      const float x = float(double(breath) + refl);
      const float x2 = x * x;
      const float x3 = x * x2;
      const float y = float(0.3 * double(x2) - 0.8 * double(x3));
      const float z = float(double(noiseLevel) - 0.5 * double(x)) + y;
      const float filtered = float(0.7 * double(z) + 0.3 * double(prev));
      prev = filtered;
      line2.put(filtered);
      line1.put(filtered);
      out.push_back(filtered * amp * ampLevel);
    }
    return out;
  }

  std::vector<PField> pfields(double pctLeft = 0.5) const {
    return {0.0, duration, noiseAmp, double(delay1), double(delay2), amp, reflMix, pctLeft};
  }
};

std::unique_ptr<Engine> reedEngine(int channels = 1, int controlRate = 1000, int sampleRate = 44100) {
  EngineSettings settings;
  settings.sampleRate = sampleRate;
  settings.controlRate = controlRate;
  settings.channels = channels;
  settings.blockFrames = 512;
  auto engine = makeEngine(settings);
  engine->load("REEDPIPE");
  return engine;
}

void setTables(Engine& engine, const ReedModel& model) {
  if (!model.noiseCurve.empty()) engine.setTable(1, model.noiseCurve);
  if (!model.ampCurve.empty()) engine.setTable(2, model.ampCurve);
}

}  // namespace

// With no breath noise and silent lines the reed settles at once: x = 1,
// y = -0.5, z = 0.5 - 0.5 = 0, so every frame is 0 whatever the delays.
TEST(Reedpipe, WithoutNoiseItStaysSilentAndAdvisesBothTablesInOrder) {
  for (int delay : {0, 1, 250, 500, 700}) {
    for (int channels : {1, 2}) {
      SCOPED_TRACE(::testing::Message() << "delay " << delay << " channels " << channels);
      auto engine = reedEngine(channels);
      NoteCapture note = engine->playNoteAlone("REEDPIPE", {0, 0.05, 0.0, double(delay), 3, 0.8, 0.3, 0.25}, {512});
      ASSERT_FALSE(note.refused);
      ASSERT_EQ(note.noteFrames, 2205);
      for (float sample : note.frames) ASSERT_EQ(sample, 0.0f);
      ASSERT_EQ(engine->messages().size(), 2u);
      EXPECT_EQ(engine->messages()[0].name, "REEDPIPE");
      EXPECT_EQ(engine->messages()[0].kind, MessageKind::Advice);
      EXPECT_EQ(engine->messages()[0].text, "Setting noise amp curve to all 1's.");
      EXPECT_EQ(engine->messages()[1].text, "Setting output amp curve to all 1's.");
    }
  }
}

TEST(Reedpipe, FollowsTheReedModelFrameByFrame) {
  struct Case {
    int delay1, delay2;
    float noiseAmp, reflMix, amp;
    bool tables;
  };
  const std::vector<Case> cases = {{13, 29, 0.1f, 0.45f, 0.7f, true},   {1, 500, 0.3f, 0.2f, 1.0f, false},
                                   {0, 499, 0.05f, 0.9f, 2.0f, true},   {510, 3, 0.2f, 0.0f, 0.5f, true},
                                   {700, 250, 0.6f, 0.6f, 1.0f, false}, {77, 77, 1.5f, 0.45f, 0.3f, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "delays " << c.delay1 << ", " << c.delay2 << " noise " << c.noiseAmp);
    ReedModel model;
    model.delay1 = c.delay1;
    model.delay2 = c.delay2;
    model.noiseAmp = c.noiseAmp;
    model.reflMix = c.reflMix;
    model.amp = c.amp;
    if (c.tables) {
      model.noiseCurve = {0.0, 1.0, 0.8, 0.9, 0.0};
      model.ampCurve = {0.2, 1.0, 0.5};
    }
    auto engine = reedEngine();
    setTables(*engine, model);
    NoteCapture note = engine->playNoteAlone("REEDPIPE", model.pfields(), {512});
    ASSERT_FALSE(note.refused);
    const std::vector<float> expected = model.play(note.noteFrames, 0);
    ASSERT_EQ(note.frames.size(), expected.size());
    bool sounded = false;
    for (size_t f = 0; f < expected.size(); ++f) {
      ASSERT_EQ(note.frames[f], expected[f]) << "frame " << f;
      sounded = sounded || expected[f] != 0.0f;
    }
    EXPECT_TRUE(sounded);
  }
}

// Table 2 is a steep ramp, so a read on any other frame changes the output.
TEST(Reedpipe, ReadsTablesEveryPeriodWhateverTheChunks) {
  const std::vector<std::vector<int>> chunkings = {{512}, {1}, {7, 3, 50}, {99}, {100}, {101}, {333, 512}};
  // 44100 / 441 = 100; a control rate above the sampling rate reads every frame.
  for (int controlRate : {441, 50000}) {
    ReedModel model;
    model.period = int(44100.0f / float(controlRate));
    model.delay1 = 40;
    model.delay2 = 97;
    model.noiseAmp = 0.2f;
    model.duration = 0.03;
    model.noiseCurve = {1.0, 0.25, 1.0, 0.5};
    model.ampCurve = {0.0, 1.0, 0.1, 3.0};
    const std::vector<float> expected = model.play(1323, 0);
    for (const std::vector<int>& chunks : chunkings) {
      SCOPED_TRACE(::testing::Message() << "control rate " << controlRate << " first chunk " << chunks[0]);
      auto engine = reedEngine(1, controlRate);
      setTables(*engine, model);
      NoteCapture note = engine->playNoteAlone("REEDPIPE", model.pfields(), chunks);
      ASSERT_EQ(note.noteFrames, 1323);
      for (size_t f = 0; f < expected.size(); ++f) ASSERT_EQ(note.frames[f], expected[f]) << "frame " << f;
      for (size_t k = 0; k < note.runResults.size(); ++k) EXPECT_EQ(note.runResults[k], note.chunkSizes[k]);
    }
  }
}

TEST(Reedpipe, SplitsTwoChannelsByPctLeftAndFeedsChannelZeroOfWiderOutputs) {
  ReedModel model;
  model.delay1 = 21;
  model.delay2 = 34;
  model.noiseAmp = 0.3f;
  model.duration = 0.02;
  auto mono = reedEngine(1);
  const std::vector<float> s = mono->playNoteAlone("REEDPIPE", model.pfields(), {512}).frames;
  ASSERT_EQ(s.size(), 882u);
  for (float pctLeft : {0.25f, 0.0f, 1.0f, 0.1f, 3e-5f}) {
    SCOPED_TRACE(pctLeft);
    auto stereo = reedEngine(2);
    NoteCapture note = stereo->playNoteAlone("REEDPIPE", model.pfields(pctLeft), {512});
    ASSERT_EQ(note.outChannels, 2);
    for (size_t f = 0; f < s.size(); ++f) {
      ASSERT_EQ(note.frames[2 * f], s[f] * pctLeft) << f;
      ASSERT_EQ(note.frames[2 * f + 1], float(s[f] * (1.0 - pctLeft))) << f;
    }
  }
  for (int channels : {3, 4}) {
    SCOPED_TRACE(channels);
    auto wide = reedEngine(channels);
    NoteCapture note = wide->playNoteAlone("REEDPIPE", model.pfields(0.25), {100, 512});
    ASSERT_EQ(note.outChannels, channels);
    for (size_t f = 0; f < s.size(); ++f) {
      ASSERT_EQ(note.frames[f * size_t(channels)], s[f]) << f;
      for (int c = 1; c < channels; ++c) ASSERT_EQ(note.frames[f * size_t(channels) + size_t(c)], 0.0f) << f;
    }
  }
}

TEST(Reedpipe, RefusesNegativeDelaysBeforeLookingForTables) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (auto [p3, p4] : std::vector<std::pair<double, double>>{{-1, 10}, {10, -3.5}, {nan, 10}, {-1e300, 0}}) {
    SCOPED_TRACE(::testing::Message() << p3 << ", " << p4);
    auto engine = reedEngine();
    NoteCapture note = engine->playNoteAlone("REEDPIPE", {0, 0.01, 0.1, p3, p4, 1, 0.45, 0.5}, {512});
    EXPECT_TRUE(note.refused);
    ASSERT_EQ(engine->messages().size(), 1u);
    EXPECT_EQ(engine->messages()[0].kind, MessageKind::Refusal);
    EXPECT_EQ(lastMessage(*engine).rfind("Delays must be 0 samples or more", 0), 0u) << lastMessage(*engine);
  }
  // Above -1 a delay truncates to 0, which reads the oldest sample; a delay
  // beyond any int reads silence.
  auto engine = reedEngine();
  EXPECT_FALSE(engine->playNoteAlone("REEDPIPE", {0, 0.01, 0.1, -0.5, 1e12, 1, 0.45, 0.5}, {512}).refused);
}
