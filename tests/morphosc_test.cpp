// MORPHOSC through the engine: the fade rule between neighbouring waveforms,
// phase lock across table lengths, pitch and its control-rate refresh, the
// stereo split and the refusals.
#include <gtest/gtest.h>

#include <cmath>

#include "support/TestEngine.h"
#include "wavekit.h"

using namespace vemora;
using vemora::testing::lastMessage;
using vemora::testing::makeEngine;
using vemora::testing::makeTable;

namespace {

constexpr float kRate = 44100.0f;

std::unique_ptr<Engine> morphEngine(int channels = 1, int controlRate = 1000) {
  EngineSettings settings;
  settings.blockFrames = 64;
  settings.channels = channels;
  settings.controlRate = controlRate;
  auto engine = makeEngine(settings);
  engine->load("MORPHOSC");
  return engine;
}

std::vector<double> wave(int length, double (*shape)(double)) {
  std::vector<double> t(size_t(length), 0.0);
  for (int i = 0; i < length; ++i) t[size_t(i)] = shape(double(i) / length);
  return t;
}
double sine(double c) { return std::sin(2 * M_PI * c); }
double square(double c) { return c < 0.5 ? 0.9 : -0.9; }
double saw(double c) { return 2 * c - 1; }
double ramp(double c) { return c; }

// One oscillator as the bank plays it: re-phased to its own cycle position
// after every frame. cycles[f] is that position after frame f.
struct Locked {
  std::vector<float> out;
  std::vector<double> cycles;
};
Locked lockedOscillator(std::vector<double>& table, float freq, float amp, int frames) {
  Ooscili osc(kRate, freq, table.data(), int(table.size()));
  Locked r;
  for (int f = 0; f < frames; ++f) {
    r.out.push_back(osc.next() * amp);
    const double cycle = osc.phase * (1.0 / 65536.0) / osc.tableLength;
    osc.phase = int(osc.tableLength * cycle * 65536.0);
    r.cycles.push_back(cycle);
  }
  return r;
}

NoteCapture play(Engine& engine, std::vector<PField> p, const std::vector<std::vector<double>>& tables,
                 const std::vector<int>& chunks = {64}) {
  for (const auto& t : tables) p.push_back(makeTable(t));
  return engine.playNoteAlone("MORPHOSC", p, chunks);
}

}  // namespace

// Same-length tables share one phase, so each waveform alone is a locked
// single oscillator and every morph is the fade of two of them.
TEST(Morphosc, MorphFadesBetweenNeighbouringWaveforms) {
  std::vector<std::vector<double>> tables = {wave(1000, sine), wave(1000, square), wave(1000, saw), wave(1000, ramp)};
  const int frames = 300;
  const float amp = 0.8f, freq = 441.7f;
  std::vector<Locked> alone;
  for (auto& t : tables) alone.push_back(lockedOscillator(t, freq, amp, frames));
  // Where a morph sounds one waveform alone; -1 for a fade.
  const std::vector<std::pair<double, int>> morphs = {{0.0, 0}, {0.1, 0},   {0.25, 0}, {0.375, -1},
                                                      {0.5, 1}, {0.6, -1},  {0.75, 2}, {0.9, -1},
                                                      {1.0, 3}, {1.25, -1}, {-0.2, 0}, {NAN, 0}};
  for (auto [morph, pure] : morphs) {
    SCOPED_TRACE(::testing::Message() << "morph " << morph);
    auto engine = morphEngine();
    NoteCapture note = play(*engine, {0, frames / 44100.0, freq, amp, morph, 1}, tables);
    ASSERT_EQ(note.noteFrames, frames);
    const int k = morph >= 0.75 ? 3 : morph >= 0.5 ? 2 : morph >= 0.25 ? 1 : 0;
    const double frac = k == 0 ? 0.0 : (morph - k / 4.0) / 0.25;
    for (int f = 0; f < frames; ++f) {
      const float expected = k == 0 ? alone[0].out[size_t(f)]
                                    : float(double(float(alone[size_t(k)].out[size_t(f)] * frac)) +
                                            alone[size_t(k) - 1].out[size_t(f)] * (1.0 - frac));
      ASSERT_EQ(note.frames[size_t(f)], expected) << "frame " << f;
      if (pure >= 0) {
        ASSERT_EQ(note.frames[size_t(f)], alone[size_t(pure)].out[size_t(f)]) << "frame " << f;
      }
    }
  }
  auto engine = morphEngine();
  for (double morph : {0.0, 0.5, 1.0, 3.7, -2.0}) {
    SCOPED_TRACE(::testing::Message() << "one table, morph " << morph);
    NoteCapture note = play(*engine, {0, frames / 44100.0, freq, amp, morph, 1}, {tables[1]});
    EXPECT_EQ(note.frames, alone[1].out);
  }
}

// Ramps read back their oscillator's place in the cycle: whichever tables
// sound, and however the morph moves, every table is read where oscillator 0
// is, to within one 16.16 step of each table. 40000 entries play whole.
TEST(Morphosc, TablesOfDifferentLengthsStayInPhase) {
  std::vector<std::vector<double>> tables = {wave(1000, ramp), wave(512, ramp), wave(4097, ramp), wave(40000, ramp)};
  const int frames = 3000;
  const Locked lead = lockedOscillator(tables[0], 441.7f, 1.0f, frames);
  for (PField morph : {PField(0.5), PField(0.75), PField(1.0), PField(makeTable({0.0, 1.0, 0.3, 1.0}))}) {
    SCOPED_TRACE(::testing::Message() << "morph " << morph.value << (morph.table ? " moving" : ""));
    auto engine = morphEngine();
    NoteCapture note = play(*engine, {0, frames / 44100.0, 441.7, 1, morph, 1}, tables);
    for (int f = 1; f < frames; ++f) {
      const double cycle = lead.cycles[size_t(f) - 1];
      if (cycle > 0.99) continue;  // the last entry of a ramp leads back to 0
      ASSERT_NEAR(note.frames[size_t(f)], cycle, 2e-7) << "frame " << f;
    }
  }
}

// The advance of a ramp per frame is the frequency in cycles per frame.
TEST(Morphosc, PitchFieldIsHertzFromFifteenUpAndFollowsControlSteps) {
  ASSERT_EQ(float(cpspch(8.09)), 440.0f);
  const std::vector<std::vector<double>> tables = {wave(1000, ramp)};
  const int frames = 400;
  auto advance = [](const std::vector<float>& out, int f) {
    const bool wraps = out[size_t(f)] > 0.99f || out[size_t(f) + 1] > 0.99f || out[size_t(f) + 1] < out[size_t(f)];
    return wraps ? NAN : double(out[size_t(f) + 1]) - out[size_t(f)];
  };
  std::vector<std::vector<float>> heard;
  for (auto [p2, hz] : {std::pair{8.09, 440.0}, {440.0, 440.0}, {15.0, 15.0}}) {
    SCOPED_TRACE(::testing::Message() << "p2 " << p2);
    auto engine = morphEngine();
    heard.push_back(play(*engine, {0, frames / 44100.0, p2, 1, 0, 1}, tables).frames);
    for (int f = 0; f + 1 < frames; ++f) {
      const double step = advance(heard.back(), f);
      if (!std::isnan(step)) {
        ASSERT_NEAR(step, hz / 44100, 2e-7) << "frame " << f;
      }
    }
  }
  EXPECT_EQ(heard[0], heard[1]);

  // A gliding p2 changes the increments only at frames 0, 10, 20 ...
  // whatever the chunks.
  std::vector<float> first;
  for (const std::vector<int>& chunks : {std::vector<int>{64}, {1}, {7, 3, 50}}) {
    SCOPED_TRACE(::testing::Message() << "first chunk " << chunks[0]);
    auto engine = morphEngine(1, 4410);
    NoteCapture note = play(*engine, {0, frames / 44100.0, makeTable({200, 2000}), 1, 0, 1}, tables, chunks);
    for (int f = 0; f + 1 < frames; ++f) {
      const double hz = 200 + 1800.0 * (f / 10 * 10) / (frames - 1);
      const double step = advance(note.frames, f);
      if (!std::isnan(step)) {
        ASSERT_NEAR(step, hz / 44100, 2e-7) << "frame " << f;
      }
    }
    if (first.empty()) first = note.frames;
    EXPECT_EQ(note.frames, first);
  }
}

TEST(Morphosc, StereoSplitsByPctLeftAndRunCountsItsFrames) {
  const std::vector<std::vector<double>> tables = {wave(1000, sine), wave(700, square)};
  auto mono = morphEngine();
  const std::vector<float> out = play(*mono, {0, 0.003, 300, 0.5, 0.8, 1}, tables).frames;
  for (float pct : {1.0f, 0.0f, 0.3f}) {
    SCOPED_TRACE(pct);
    auto engine = morphEngine(2);
    NoteCapture note = play(*engine, {0, 0.003, 300, 0.5, 0.8, pct}, tables);
    for (size_t f = 0; f < out.size(); ++f) {
      EXPECT_EQ(note.frames[2 * f], out[f] * pct);
      EXPECT_EQ(note.frames[2 * f + 1], float(out[f] * (1.0 - pct)));
    }
  }
  mono = morphEngine();  // the engine made last is the one in force
  EXPECT_EQ(play(*mono, {0, 100 / 44100.0, 300, 1, 0, 1}, tables).runResults, (std::vector<int>{64, 36}));
  EXPECT_EQ(play(*mono, {0, 0, 300, 1, 0, 1}, tables).runResults, std::vector<int>{0});
}

TEST(Morphosc, RefusesNotesItCannotPlay) {
  const std::vector<double> sineTable = wave(64, sine);
  const std::vector<std::pair<std::vector<PField>, std::string>> cases = {
      {{0, 1, 440, 1, 0, 1}, "Usage: MORPHOSC(start, dur, freq, amp, morph, pctleft, wavetable [, wavetable ...])"},
      {{0, 1, 440, 1, 0, 1, makeTable(sineTable), 3}, "p7 carries no waveform table (make one with tab())."},
      {{0, 1, 440, 1, 0, 1, makeTable({})}, "p6 carries no waveform table (make one with tab())."}};
  for (const auto& [p, message] : cases) {
    SCOPED_TRACE(message);
    auto engine = morphEngine();
    EXPECT_TRUE(engine->playNoteAlone("MORPHOSC", p, {64}).refused);
    EXPECT_EQ(lastMessage(*engine), message);
    EXPECT_EQ(engine->messages().back().name, "MORPHOSC");
  }
  for (int channels : {3, 4}) {
    auto engine = morphEngine(channels);
    EXPECT_TRUE(engine->playNoteAlone("MORPHOSC", {0, 1, 440, 1, 0, 1, makeTable(sineTable)}, {64}).refused);
    EXPECT_EQ(lastMessage(*engine), "Can't handle more than 2 output channels.");
  }
}
