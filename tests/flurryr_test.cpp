// FLURRYR through the engine: the slots of each call, the chance of a grain
// in a short call, the draws and their order, the ordering of the ranges,
// pitch or Hz frequencies, the placement, the control steps counted on
// written frames, cut grains going on across calls, and every message.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "support/TestEngine.h"
#include "wavekit.h"

using namespace vemora;
using vemora::testing::lastMessage;
using vemora::testing::makeEngine;

namespace {

using Range = std::array<double, 4>;  // low, mid, high, tightness

struct Cloud {
  double start = 0.0, dur = 0.1, amp = 1.0, rate = 0.005;
  Range loc{0.0, 0.0, 0.0, 1.0};
  Range grainDur{0.004, 0.004, 0.004, 1.0};
  Range pan{0.5, 0.5, 0.5, 1.0};
  Range freq{440.0, 440.0, 440.0, 1.0};
  double seed = 1.0;

  std::vector<PField> pfields() const {
    std::vector<PField> p = {start, dur, amp, rate};
    for (const Range* r : {&loc, &grainDur, &pan, &freq})
      for (double v : *r) p.emplace_back(v);
    p.emplace_back(0.0);
    p.emplace_back(seed);
    return p;
  }
};

// Table 2 holds a constant waveform, so a sounding frame is the amplitude
// times the envelope, and a silent one 0.
std::unique_ptr<Engine> cloudEngine(int rate, int channels = 1, int controlRate = 1000) {
  EngineSettings settings;
  settings.sampleRate = rate;
  settings.channels = channels;
  settings.controlRate = controlRate;
  settings.blockFrames = 512;
  auto engine = makeEngine(settings);
  engine->load("FLURRYR");
  engine->setTable(2, {1.0, 1.0});
  return engine;
}

// The value that rrand gives after `draws` values from seed.
double valueAfter(unsigned seed, int draws) {
  srrand(seed);
  for (int i = 0; i < draws; ++i) rrand();
  return rrand();
}

int framesOf(double seconds, int rate) { return int(float(seconds) * float(rate)); }

// A mono chunk of `slots` slots of `slot` frames, each holding a grain of
// `grain` frames at `offset`: silent at the offset itself, 1 after it.
std::vector<float> slotPattern(int frames, int slots, int slot, int grain, int offset) {
  std::vector<float> expected(size_t(frames), 0.0f);
  for (int k = 0; k < slots; ++k)
    for (int i = 0; i < slot; ++i)
      if (offset < i && i < offset + grain) expected[size_t(k * slot + i)] = 1.0f;
  return expected;
}

}  // namespace

TEST(Flurryr, SlotsHoldOneGrainPerWholePeriod) {
  struct Case {
    int rate;
    double period, grainSeconds;
    int chunk, slots, slot;
  } cases[] = {
      {44100, 0.005, 0.004, 512, 2, 256},  // P = 220.5
      {44100, 0.004, 0.003, 512, 2, 256},  // P = 176.4
      {1000, 0.15, 0.1, 500, 3, 166},      // P = 150: 498 frames written
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "P = " << c.period * c.rate << ", chunk " << c.chunk);
    auto engine = cloudEngine(c.rate);
    Cloud cloud;
    cloud.rate = c.period;
    cloud.dur = double(c.chunk) / c.rate;
    cloud.grainDur = {c.grainSeconds, c.grainSeconds, c.grainSeconds, 1.0};
    NoteCapture note = engine->playNoteAlone("FLURRYR", cloud.pfields(), {c.chunk});
    ASSERT_FALSE(note.refused);
    ASSERT_EQ(note.noteFrames, c.chunk);
    ASSERT_EQ(note.runResults.size(), 1u);
    EXPECT_EQ(note.runResults[0], c.slots * c.slot);
    const int grain = framesOf(c.grainSeconds, c.rate);
    EXPECT_EQ(note.frames, slotPattern(c.chunk, c.slots, c.slot, grain, 0));
    // Each grain drew frequency, duration, position and placement: 2 values each.
    const double next = rrand();
    EXPECT_EQ(next, valueAfter(1, 8 * c.slots));
  }
}

TEST(Flurryr, ShortCallStartsAGrainWithItsShareOfAPeriod) {
  const float share = 100.0f / (0.005f * 44100.0f);
  int withGrain = 0;
  for (unsigned seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE(::testing::Message() << "seed " << seed);
    auto engine = cloudEngine(44100);
    Cloud cloud;
    cloud.dur = 100.0 / 44100.0;
    cloud.grainDur = {0.001, 0.001, 0.001, 1.0};
    cloud.seed = seed;
    NoteCapture note = engine->playNoteAlone("FLURRYR", cloud.pfields(), {100});
    const double next = rrand();
    ASSERT_EQ(note.runResults, std::vector<int>{100});
    const bool grain = double(share) > valueAfter(seed, 0) * 0.5 + 0.5;
    withGrain += grain;
    EXPECT_EQ(note.frames, slotPattern(100, grain ? 1 : 0, 100, framesOf(0.001, 44100), 0));
    EXPECT_EQ(next, valueAfter(seed, grain ? 9 : 1));
  }
  EXPECT_GT(withGrain, 5);
  EXPECT_LT(withGrain, 35);
}

TEST(Flurryr, TightnessZeroAcceptsOnlyTheWiderBound) {
  // Every attempt lands a full spread from mid; only the wider side is
  // inside, so the grain sits at one end of its slot.
  for (double mid : {0.2, 0.8}) {
    SCOPED_TRACE(::testing::Message() << "position mid " << mid);
    auto engine = cloudEngine(44100);
    Cloud cloud;
    cloud.dur = 512.0 / 44100.0;
    cloud.loc = {0.0, mid, 1.0, 0.0};
    cloud.seed = 7;
    NoteCapture note = engine->playNoteAlone("FLURRYR", cloud.pfields(), {512});
    const double next = rrand();
    const int grain = framesOf(0.004, 44100);
    const int offset = mid < 0.5 ? 256 - grain : 0;
    EXPECT_EQ(note.frames, slotPattern(512, 2, 256, grain, offset));

    // Draws: 2 frequency, 2 duration, then position attempts until the sign
    // points to the wider side, then 2 placement; for each of 2 grains.
    srrand(7);
    int draws = 0;
    for (int g = 0; g < 2; ++g) {
      for (int i = 0; i < 4; ++i) rrand();
      draws += 4;
      for (bool accepted = false; !accepted;) {
        const bool up = float(rrand()) > 0.0f;
        rrand();
        draws += 2;
        accepted = up == (mid < 0.5);
      }
      rrand();
      rrand();
      draws += 2;
    }
    EXPECT_EQ(next, valueAfter(7, draws));
  }
}

TEST(Flurryr, RangesAreRaisedUpwardsAndPitchesConverted) {
  // Position 0.2, 0.1, 0.15: the mid and the high both become 0.2.
  {
    auto engine = cloudEngine(44100);
    Cloud cloud;
    cloud.dur = 512.0 / 44100.0;
    cloud.loc = {0.2, 0.1, 0.15, 1.0};
    cloud.grainDur = {0.004, 0.002, 0.001, 1.0};  // mid and high raised to 0.004
    NoteCapture note = engine->playNoteAlone("FLURRYR", cloud.pfields(), {512});
    const int grain = framesOf(0.004, 44100);
    EXPECT_EQ(note.frames, slotPattern(512, 2, 256, grain, int(float(256 - grain) * 0.2f)));
  }
  // A ramp waveform (entry k holds k) makes the second sounding frame of a
  // grain read the phase after one step: the increment itself.
  struct Case {
    Range freq;
    double hz;
  } cases[] = {
      {{8.00, 8.00, 8.00, 1.0}, cpspch(8.00)},   {{440.0, 440.0, 440.0, 1.0}, 440.0},
      {{15.0, 15.0, 15.0, 1.0}, 15.0},           {{14.0, 14.0, 14.0, 1.0}, cpspch(14.0)},
      {{8.00, 100.0, 100.0, 1.0}, cpspch(8.00)},  // converted low raises the mid
  };
  std::vector<double> ramp(1000);
  for (size_t k = 0; k < ramp.size(); ++k) ramp[k] = double(k);
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "p16 " << c.freq[0] << " p17 " << c.freq[1]);
    auto engine = cloudEngine(44100);
    engine->setTable(2, ramp);
    Cloud cloud;
    cloud.dur = 256.0 / 44100.0;
    cloud.freq = c.freq;
    NoteCapture note = engine->playNoteAlone("FLURRYR", cloud.pfields(), {256});
    const float increment = 1000.0f * float(c.hz) / 44100.0f;
    EXPECT_EQ(note.frames[1], 0.0f);  // the grain's first frame reads phase 0
    EXPECT_EQ(note.frames[2], increment);
  }
}

TEST(Flurryr, PlacementSplitsStereoAndStillDrawsInMono) {
  double nextAfterMono = 0.0;
  for (int channels : {1, 2}) {
    SCOPED_TRACE(::testing::Message() << channels << " channels");
    auto engine = cloudEngine(44100, channels);
    Cloud cloud;
    cloud.dur = 512.0 / 44100.0;
    cloud.pan = {0.3, 0.3, 0.3, 1.0};
    cloud.seed = 3;
    NoteCapture note = engine->playNoteAlone("FLURRYR", cloud.pfields(), {512});
    const double next = rrand();
    ASSERT_EQ(note.outChannels, channels);
    const float left = channels == 2 ? 0.3f : 1.0f;
    const float right = float(1.0 - double(0.3f));
    EXPECT_EQ(note.frames[size_t(5 * channels)], left);
    if (channels == 2) {
      EXPECT_EQ(note.frames[11], right);
      EXPECT_EQ(note.frames[0], 0.0f);
      EXPECT_EQ(note.frames[1], 0.0f);
    } else {
      nextAfterMono = next;
    }
    if (channels == 2) {
      EXPECT_EQ(next, nextAfterMono);
    }
  }
}

TEST(Flurryr, PhraseCurveRefreshesOnWrittenFramesOnly) {
  // The first call (102 frames, shorter than P = 150) is silent; the next two
  // write 498 of their 500 frames. Refreshes come every period + 1 written
  // frames and read the curve at frameCursor, which silent frames advance.
  std::vector<double> curve(1001);
  for (size_t k = 0; k < curve.size(); ++k) curve[k] = double(k) / 1000.0;
  unsigned seed = 1;
  while (!(double(102.0f / 150.0f) <= valueAfter(seed, 0) * 0.5 + 0.5)) ++seed;
  for (int controlRate : {250, 2000}) {
    const int every = int(1000.0f / float(controlRate)) + 1;
    SCOPED_TRACE(::testing::Message() << "refresh every " << every << " frames");
    auto engine = cloudEngine(1000, 1, controlRate);
    engine->setTable(1, curve);
    Cloud cloud;
    cloud.dur = 1.102;
    cloud.rate = 0.15;
    cloud.grainDur = {0.1, 0.1, 0.1, 1.0};
    cloud.seed = seed;
    NoteCapture note = engine->playNoteAlone("FLURRYR", cloud.pfields(), {102, 500, 500});
    ASSERT_EQ(note.noteFrames, 1102);
    EXPECT_EQ(note.runResults, (std::vector<int>{102, 498, 498}));
    float tabs[2];
    tableset(1000.0f, 1.102f, int(curve.size()), tabs);
    std::vector<float> expected(1102, 0.0f);
    for (int call = 0; call < 2; ++call) {
      for (int j = 0; j < 498; ++j) {
        const int i = j % 166;
        if (i == 0 || i >= 100) continue;
        const int written = call * 498 + j;
        const long refreshedAt = 102 + every * (written / every);
        expected[size_t(102 + call * 500 + j)] = float(tablei(refreshedAt, curve.data(), tabs) * 1.0f);
      }
    }
    EXPECT_EQ(note.frames, expected);
  }
}

TEST(Flurryr, SameSeedAndChunksReproduceTheStream) {
  auto play = [](double seed) {
    auto engine = cloudEngine(44100, 2);
    engine->setTable(1, {0.0, 1.0, 0.5, 0.0});
    engine->setTable(2, {0.0, 1.0, 0.0, -1.0});
    engine->setTable(3, {0.0, 1.0, 0.0});
    Cloud cloud;
    cloud.dur = 0.5;
    cloud.rate = 0.025;
    cloud.loc = {0.0, 0.5, 1.0, 2.0};
    cloud.grainDur = {0.002, 0.01, 0.02, 0.5};
    cloud.pan = {0.0, 0.5, 1.0, 1.0};
    cloud.freq = {200.0, 400.0, 2000.0, 3.0};
    cloud.seed = seed;
    return engine->playNoteAlone("FLURRYR", cloud.pfields(), {37, 512, 100, 3}).frames;
  };
  const std::vector<float> first = play(42);
  EXPECT_EQ(play(42), first);
  EXPECT_NE(play(43), first);
  EXPECT_NE(std::count(first.begin(), first.end(), 0.0f), std::ptrdiff_t(first.size()));
}

TEST(Flurryr, CutGrainsGoOnWhereTheirEnvelopeStopped) {
  // P = 100 frames, grains of 90. Table 3 holds k at entry k, stretched over
  // 90 frames, so every frame shows the envelope index it read: a whole
  // grain is a silent frame, then 1, 2, ... 89, however the calls cut it.
  // Calls of 200 frames or more hold two slots or more: a grain cut in a
  // slot before the last ends with its slot, and one cut in the last goes on
  // after the frames that the slot division left unwritten.
  std::vector<double> envelope(91);
  for (size_t k = 0; k < envelope.size(); ++k) envelope[k] = double(k);
  const std::vector<std::vector<int>> sequences = {{7}, {1}, {13, 50, 3}, {99}, {150, 7}, {199}, {512}, {300, 41}};
  for (const std::vector<int>& chunks : sequences) {
    const bool wholeGrains = *std::max_element(chunks.begin(), chunks.end()) < 200;
    SCOPED_TRACE(::testing::Message() << "first chunk " << chunks[0] << " of " << chunks.size());
    auto engine = cloudEngine(1000);
    engine->setTable(3, envelope);
    Cloud cloud;
    cloud.dur = 2.0;
    cloud.rate = 0.1;
    cloud.grainDur = {0.09, 0.09, 0.09, 1.0};
    NoteCapture note = engine->playNoteAlone("FLURRYR", cloud.pfields(), chunks);
    for (size_t k = 0; k < note.runResults.size(); ++k) ASSERT_LE(note.runResults[k], note.chunkSizes[k]);
    // A grain starts at index 1; a later frame reads the next index, after
    // a gap only where a call left the remainder of its slots unwritten.
    int grains = 0;
    int index = 0;
    for (size_t f = 0; f < note.frames.size(); ++f) {
      const float value = note.frames[f];
      if (value == 0.0f) continue;
      if (value == 1.0f) {
        if (index > 0 && wholeGrains) {
          EXPECT_EQ(index, 89) << "grain before frame " << f;
        }
        grains += index > 0;
        index = 1;
        continue;
      }
      ASSERT_EQ(value, float(index + 1)) << "frame " << f;
      if (wholeGrains) {
        ASSERT_NE(note.frames[f - 1], 0.0f) << "frame " << f;
      }
      ++index;
    }
    EXPECT_GE(grains, 5);
  }
}

TEST(Flurryr, UnreachableRangeSettlesOnItsMid) {
  // Tightness 0 puts every attempt at mid +/- 1.0, that is 0 or 2, both
  // outside [1e-17, 1.5]: the draw gives up and takes mid, 1.0.
  auto engine = cloudEngine(44100);
  Cloud cloud;
  cloud.dur = 512.0 / 44100.0;
  cloud.loc = {1e-17, 1.0, 1.5, 0.0};
  NoteCapture note = engine->playNoteAlone("FLURRYR", cloud.pfields(), {512});
  const int grain = framesOf(0.004, 44100);
  EXPECT_EQ(note.frames, slotPattern(512, 2, 256, grain, 256 - grain));
}

TEST(Flurryr, ZeroLengthNoteRunsOnceAndWritesNothing) {
  auto engine = cloudEngine(44100);
  Cloud cloud;
  cloud.dur = 0.0;
  NoteCapture note = engine->playNoteAlone("FLURRYR", cloud.pfields(), {64});
  EXPECT_FALSE(note.refused);
  EXPECT_EQ(note.runResults, std::vector<int>{0});
}

TEST(Flurryr, MessagesAndRefusals) {
  {
    auto engine = cloudEngine(44100);
    Cloud cloud;
    ASSERT_FALSE(engine->playNoteAlone("FLURRYR", cloud.pfields(), {512}).refused);
    ASSERT_EQ(engine->messages().size(), 2u);
    EXPECT_EQ(engine->messages()[0].text, "Setting phrase curve to all 1's.");
    EXPECT_EQ(engine->messages()[1].text, "Setting grain envelope to all 1's.");
    EXPECT_EQ(engine->messages()[1].name, "FLURRYR");
    EXPECT_EQ(engine->messages()[1].kind, MessageKind::Advice);
  }
  {
    auto engine = cloudEngine(44100, 3);
    EXPECT_TRUE(engine->playNoteAlone("FLURRYR", Cloud{}.pfields(), {512}).refused);
    EXPECT_EQ(lastMessage(*engine), "Can't handle more than 2 output channels.");
  }
  {
    auto engine = makeEngine();
    engine->load("FLURRYR");
    NoteCapture note = engine->playNoteAlone("FLURRYR", Cloud{}.pfields(), {512});
    EXPECT_EQ(note.initResult, -1);
    EXPECT_EQ(lastMessage(*engine), "You need to store a waveform in function 2.");
  }
  struct Case {
    double period;
    Range grainDur;
    Range pan;
    const char* message;  // empty: accepted
  } cases[] = {
      {0.005,
       {0.001, 0.002, 0.006, 1.0},
       {0.5, 0.5, 0.5, 1.0},
       "Grain durations 0.006000 sec. are larger than rate: 0.005000 seconds per grain."},
      {0.25, {0.1, 0.2, 0.25, 1.0}, {0.5, 0.5, 0.5, 1.0}, ""},  // equal to the rate
      {0.005,
       {0.001, 0.001, 0.001, 1.0},
       {0.0, 0.5, 1.0, -0.5},
       "The grain placement tightness -0.500000 is negative: no draw could ever end."},
      {1e-5,
       {0.0, 0.0, 0.0, 1.0},
       {0.5, 0.5, 0.5, 1.0},
       "A grain rate of 0.000010 seconds per grain is shorter than one frame."},
      {0.0,
       {0.0, 0.0, 0.0, 1.0},
       {0.5, 0.5, 0.5, 1.0},
       "A grain rate of 0.000000 seconds per grain is shorter than one frame."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    auto engine = cloudEngine(44100);
    Cloud cloud;
    cloud.rate = c.period;
    cloud.grainDur = c.grainDur;
    cloud.pan = c.pan;
    NoteCapture note = engine->playNoteAlone("FLURRYR", cloud.pfields(), {512});
    EXPECT_EQ(note.refused, *c.message != '\0');
    if (*c.message) {
      EXPECT_EQ(note.initResult, -1);
      EXPECT_EQ(lastMessage(*engine), c.message);
      EXPECT_EQ(engine->messages().back().kind, MessageKind::Refusal);
    }
  }
}
