// SCULPT through the engine: point boundaries over any chunking, the level
// and increment of each point, the phrase curve, short point tables, the
// channel layouts and the order in which missing tables are reported.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support/TestEngine.h"
#include "wavekit.h"

using namespace vemora;
using vemora::testing::lastMessage;
using vemora::testing::makeEngine;

namespace {

std::unique_ptr<Engine> sculptEngine(int channels = 1, int sampleRate = 44100, int block = 512) {
  EngineSettings settings;
  settings.sampleRate = sampleRate;
  settings.channels = channels;
  settings.blockFrames = block;
  auto engine = makeEngine(settings);
  engine->load("SCULPT");
  return engine;
}

// The level of a point: amp x ampdb(dB + 60), the dB sum rounded to float.
float pointLevel(float amp, double db) { return float(double(amp) * ampdb(float(db + 60.0))); }

std::vector<std::string> texts(const Engine& engine) {
  std::vector<std::string> all;
  for (const Message& message : engine.messages()) all.push_back(message.text);
  return all;
}

}  // namespace

// A constant waveform makes each frame the level of its point, so the frame
// on which the level steps is the point boundary.
TEST(Sculpt, PointsStartOnTheSameNoteFramesWhateverTheChunks) {
  const std::vector<double> levels = {-60.0, -54.0, -73.3, 6.02};
  const std::vector<std::vector<int>> chunkings = {{512}, {1, 4096}, {7, 3, 50}, {22050}, {22049}, {441, 32768}};
  for (const std::vector<int>& chunks : chunkings) {
    SCOPED_TRACE(::testing::Message() << "first chunk " << chunks[0]);
    auto engine = sculptEngine(1, 44100, 32768);
    engine->setTable(2, {1.0, 1.0});
    engine->setTable(3, {100, 200, 300, 400});
    engine->setTable(4, levels);
    NoteCapture note = engine->playNoteAlone("SCULPT", {0, 0.5, 0.8, 4, 0.5}, chunks);
    ASSERT_FALSE(note.refused);
    ASSERT_EQ(note.noteFrames, 88200);
    for (int f = 0; f < note.noteFrames; ++f) {
      const int point = f / 22050;
      ASSERT_EQ(note.frames[size_t(f)], pointLevel(0.8f, levels[size_t(point)])) << "frame " << f;
    }
    EXPECT_EQ(texts(*engine), std::vector<std::string>{"Setting phrase curve to all 1's."});
  }
  // An entry of -60 dB plays at the amplitude pfield itself.
  EXPECT_EQ(pointLevel(0.8f, -60.0), 0.8f);
}

// A ramp waveform (entry k holds k) shows the table position of each frame:
// the phase starts at 0 and moves by the point's increment, wrapping at the
// table length. The long table makes a one-step change of the increment
// show within a point.
TEST(Sculpt, IncrementPlaysEachPointFrequencyThroughTheTable) {
  // 261.6255653005986 Hz and 55.55555555 Hz round differently when the
  // increment is formed in single precision.
  const std::vector<double> freqs = {441.0, 0.0, 261.6255653005986, -441.0, 44100.0 / 3.0, 55.55555555};
  for (int length : {1024, 1 << 20}) {
    SCOPED_TRACE(length);
    std::vector<double> ramp(static_cast<size_t>(length));
    for (size_t k = 0; k < ramp.size(); ++k) ramp[k] = double(k);
    auto engine = sculptEngine(1);
    engine->setTable(2, ramp);
    engine->setTable(3, freqs);
    engine->setTable(4, std::vector<double>(freqs.size(), -60.0));
    // 0.01 s is 441 frames a point.
    const int pointFrames = 441;
    NoteCapture note = engine->playNoteAlone("SCULPT", {0, 0.01, 1.0, double(freqs.size()), 0.5}, {100, 512, 3});
    ASSERT_EQ(note.noteFrames, pointFrames * int(freqs.size()));
    float phase = 0.0f;
    for (int f = 0; f < note.noteFrames; ++f) {
      const double freq = freqs[size_t(f / pointFrames)];
      const float incr = float(double(float(length)) * freq / 44100.0);
      const float expected = oscil(1.0f, incr, ramp.data(), length, &phase);
      ASSERT_EQ(note.frames[size_t(f)], expected) << "frame " << f << " freq " << freq;
    }
    if (length == 1024) {
      // 441 Hz: 10.24 entries a frame, one cycle in 100 frames.
      EXPECT_EQ(float(double(1024.0f) * 441.0 / 44100.0), 10.24f);
      EXPECT_EQ(note.frames[0], 0.0f);
      EXPECT_EQ(note.frames[1], 10.0f);
      EXPECT_EQ(note.frames[2], 20.0f);
      EXPECT_EQ(note.frames[101], 10.0f);
    }
  }
}

// The phrase curve is read without interpolation at the first frame of each
// point and holds for the point.
TEST(Sculpt, PhraseCurveScalesEachPointFromItsFirstFrame) {
  const std::vector<double> curve = {0.1, 1.0, 0.55, 0.3, 0.9, 0.0};
  // 1/64 s at 1024 Hz: 16 frames a point, 112 in all.
  auto engine = sculptEngine(1, 1024);
  engine->setTable(1, curve);
  engine->setTable(2, {1.0, 1.0, 1.0});
  engine->setTable(3, {5, 5, 5, 5, 5, 5, 5});
  engine->setTable(4, {-60, -54, -66, -60, -60, -60, -60});
  const double pointSeconds = 1.0 / 64.0;
  const double points = 7;
  NoteCapture note = engine->playNoteAlone("SCULPT", {0, pointSeconds, 2.5, points, 0.5}, {10});
  ASSERT_EQ(note.noteFrames, 112);
  EXPECT_TRUE(engine->messages().empty());
  float tabs[2];
  tableset(1024.0f, float(pointSeconds * points), int(curve.size()), tabs);
  const std::vector<double> db = {-60, -54, -66, -60, -60, -60, -60};
  for (int f = 0; f < note.noteFrames; ++f) {
    const int start = f / 16 * 16;
    const float level = float(table(start, const_cast<double*>(curve.data()), tabs)) * 2.5f;
    ASSERT_EQ(note.frames[size_t(f)], pointLevel(level, db[size_t(f / 16)])) << "frame " << f;
  }
}

// Every frequency entry but the last is 0 Hz; the last is 500 Hz, which
// steps a two-entry waveform {1, 2} by one entry a frame. So from the point
// that first reads the last entry on, the output alternates.
TEST(Sculpt, ShortPointTablesHoldTheirLastEntryAndSaySoOnce) {
  struct Case {
    int freqCount, levelCount;
    std::string advice;
  };
  // p1 = 0.3 s, p3 = 3.5: 1.05 s, so a fourth point starts at 0.9 s.
  const std::vector<Case> cases = {
      {4, 4, ""},
      {3, 4, "The note plays 4 points but table 3 holds 3; its last entry is held."},
      {4, 2, "The note plays 4 points but table 4 holds 2; its last entry is held."},
      {1, 3, "The note plays 4 points but tables 3 and 4 hold 1 and 3; their last entries are held."}};
  const std::vector<double> allLevels = {-60, -50, -40, -30};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.freqCount << " frequencies, " << c.levelCount << " levels");
    auto engine = sculptEngine(1, 1000, 64);
    engine->setTable(1, {1.0});
    engine->setTable(2, {1.0, 2.0});
    std::vector<double> freqs(size_t(c.freqCount), 0.0);
    freqs.back() = 500.0;
    engine->setTable(3, freqs);
    engine->setTable(4, std::vector<double>(allLevels.begin(), allLevels.begin() + c.levelCount));
    NoteCapture note = engine->playNoteAlone("SCULPT", {0, 0.3, 1.0, 3.5, 0.5}, {64});
    ASSERT_FALSE(note.refused);
    ASSERT_EQ(note.noteFrames, 1050);
    EXPECT_EQ(texts(*engine), c.advice.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.advice});
    const int moving = (c.freqCount - 1) * 300;
    for (int f = 0; f < note.noteFrames; ++f) {
      const int point = std::min(f / 300, c.levelCount - 1);
      const float entry = f < moving ? 1.0f : float((f - moving) % 2 + 1);
      ASSERT_EQ(note.frames[size_t(f)], float(double(pointLevel(1.0f, allLevels[size_t(point)])) * entry))
          << "frame " << f;
    }
  }
}

TEST(Sculpt, SplitsTwoChannelsByPctLeftAndFeedsChannelZeroOfWiderOutputs) {
  std::vector<double> sine(512);
  for (size_t k = 0; k < sine.size(); ++k) sine[k] = std::sin(2.0 * M_PI * double(k) / 512.0);
  auto setUp = [&](Engine& engine) {
    engine.setTable(2, sine);
    engine.setTable(3, {440, 660});
    engine.setTable(4, {-70, -63});
  };
  auto mono = sculptEngine(1);
  setUp(*mono);
  const std::vector<float> s = mono->playNoteAlone("SCULPT", {0, 0.01, 1.0, 2, 0.25}, {512}).frames;
  ASSERT_EQ(s.size(), 882u);
  for (float pctLeft : {0.25f, 0.0f, 1.0f, 0.1f, 3e-5f}) {
    SCOPED_TRACE(pctLeft);
    auto stereo = sculptEngine(2);
    setUp(*stereo);
    NoteCapture note = stereo->playNoteAlone("SCULPT", {0, 0.01, 1.0, 2, double(pctLeft)}, {512});
    for (size_t f = 0; f < s.size(); ++f) {
      ASSERT_EQ(note.frames[2 * f], s[f] * pctLeft) << f;
      ASSERT_EQ(note.frames[2 * f + 1], float(s[f] * (1.0 - pctLeft))) << f;
    }
  }
  auto wide = sculptEngine(4);
  setUp(*wide);
  NoteCapture note = wide->playNoteAlone("SCULPT", {0, 0.01, 1.0, 2, 0.25}, {100, 512});
  for (size_t f = 0; f < s.size(); ++f) {
    ASSERT_EQ(note.frames[4 * f], s[f]) << f;
    for (size_t c = 1; c < 4; ++c) ASSERT_EQ(note.frames[4 * f + c], 0.0f) << f;
  }
}

// Tables are looked for in the order 2, 1, 3, 4; the first missing one of
// 2, 3 and 4 refuses the note, a missing 1 only advises.
TEST(Sculpt, ReportsMissingTablesInTheOrderTwoOneThreeFour) {
  const std::string phrase = "Setting phrase curve to all 1's.";
  const std::string wave = "You need to store a waveform in function 2.";
  const std::string freqs = "You haven't made the table of frequency points (table 3).";
  const std::string levels = "You haven't made the table of amplitude points (table 4).";
  struct Case {
    std::vector<int> slots;
    std::vector<std::string> messages;
    bool refused;
  };
  const std::vector<Case> cases = {
      {{}, {wave}, true},         {{1, 3, 4}, {wave}, true},        {{2}, {phrase, freqs}, true},
      {{1, 2, 4}, {freqs}, true}, {{2, 3}, {phrase, levels}, true}, {{2, 3, 4}, {phrase}, false},
      {{1, 2, 3, 4}, {}, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.slots.size() << " tables, first " << (c.slots.empty() ? 0 : c.slots[0]));
    auto engine = sculptEngine();
    for (int slot : c.slots) engine->setTable(slot, {1.0, 0.5});
    NoteCapture note = engine->playNoteAlone("SCULPT", {0, 0.001, 1.0, 2, 0.5}, {512});
    EXPECT_EQ(note.refused, c.refused);
    EXPECT_EQ(texts(*engine), c.messages);
    for (const Message& message : engine->messages()) EXPECT_EQ(message.name, "SCULPT");
  }
  // An empty point table counts as missing.
  auto engine = sculptEngine();
  engine->setTable(2, {1.0});
  engine->setTable(3, {});
  EXPECT_TRUE(engine->playNoteAlone("SCULPT", {0, 0.001, 1.0, 2, 0.5}, {512}).refused);
  EXPECT_EQ(lastMessage(*engine), freqs);
}
