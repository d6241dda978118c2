#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "wavekit.h"

namespace {

TEST(TableStretch, ThreeEntriesOverFourFramesClampAtBothEnds) {
  double t[] = {10.0, 20.0, 40.0};
  float tabs[2];
  tableset(4.0f, 1.0f, 3, tabs);  // half an entry per frame
  EXPECT_EQ(tabs[0], 2.0f);
  EXPECT_EQ(tabs[1], 0.5f);
  struct Case {
    long frame;
    double plain, interpolated;
  };
  const Case cases[] = {{-1, 10, 10}, {0, 10, 10}, {1, 10, 15}, {2, 20, 20},
                        {3, 20, 30},  {4, 40, 40}, {5, 40, 40}, {LONG_MAX, 40, 40}};
  for (const Case& c : cases) {
    SCOPED_TRACE("frame " + std::to_string(c.frame));
    EXPECT_EQ(table(c.frame, t, tabs), c.plain);
    EXPECT_EQ(tablei(c.frame, t, tabs), c.interpolated);
  }
}

TEST(TableStretch, FrameDurTimesRateReadsTheLastEntry) {
  // (size - 1) / frames rounds below the true ratio in float for all of these.
  struct Case {
    float rate, dur;
    long size, frames;
  };
  const Case cases[] = {{44100, 1.0f, 512, 44100}, {44100, 0.1f, 1000, 4410}, {8000, 0.5f, 8192, 4000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " entries over " + std::to_string(c.frames) + " frames");
    std::vector<double> t(c.size);
    for (long k = 0; k < c.size; ++k) t[k] = k;
    float tabs[2];
    tableset(c.rate, c.dur, c.size, tabs);
    EXPECT_EQ(table(c.frames, t.data(), tabs), c.size - 1);
    EXPECT_EQ(tablei(c.frames, t.data(), tabs), c.size - 1);
    EXPECT_EQ(table(c.frames - 1, t.data(), tabs), (c.size - 1) * (c.frames - 1) / c.frames);
  }
}

TEST(TableStretch, DegenerateStretchesReadEntryZero) {
  double t[] = {7.0, 8.0, 9.0};
  struct Case {
    const char* name;
    float rate, dur;
    int size;
  };
  const Case cases[] = {{"zero duration", 44100, 0.0f, 3},
                        {"negative duration", 44100, -1.0f, 3},
                        {"NaN duration", 44100, NAN, 3},
                        {"one entry", 44100, 1.0f, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    float tabs[2];
    tableset(c.rate, c.dur, c.size, tabs);
    for (long frame : {0L, 1000L, -3L}) {
      EXPECT_EQ(table(frame, t, tabs), 7.0);
      EXPECT_EQ(tablei(frame, t, tabs), 7.0);
    }
  }
  float tabs[2];
  tableset(44100, 1.0f, 0, tabs);  // nothing to read: 0 without touching t
  EXPECT_EQ(tablei(10, nullptr, tabs), 0.0);
  tableset(44100, 1.0f, (1 << 24) + 4, tabs);  // last index 2^24 + 3 has no float
  EXPECT_EQ(tabs[0], static_cast<float>((1 << 24) + 2));
}

TEST(Oscil, StepsAndWrapsThePhase) {
  double t[] = {0.0, 10.0, 20.0, 30.0};
  struct Case {
    const char* name;
    float si, start;
    std::vector<float> plain, interpolated, phases;
  };
  const Case cases[] = {
      {"forward 1.5", 1.5f, 0.0f, {0, 10, 30, 0, 20}, {0, 15, 30, 5, 20}, {1.5f, 3, 0.5f, 2, 3.5f}},
      // The entry after the last is the first: 3.5 lies halfway from 30 back to 0.
      {"wrap at the end", 1.5f, 2.0f, {20, 30, 10, 20}, {20, 15, 10, 25}, {3.5f, 1, 2.5f, 0}},
      {"backward 1.5", -1.5f, 0.0f, {0, 20, 10, 30, 20}, {0, 25, 10, 15, 20}, {2.5f, 1, 3.5f, 2, 0.5f}},
      {"step longer than the table", 9.5f, 0.0f, {0, 10, 30, 0}, {0, 15, 30, 5}, {1.5f, 3, 0.5f, 2}},
      {"start below 0", 1.0f, -1.0f, {30, 0}, {30, 0}, {0, 1}},
      {"start past the end", 1.0f, 9.25f, {10, 20}, {12.5, 22.5}, {2.25f, 3.25f}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    float phasePlain = c.start, phaseInterp = c.start;
    for (std::size_t k = 0; k < c.plain.size(); ++k) {
      SCOPED_TRACE("step " + std::to_string(k));
      EXPECT_FLOAT_EQ(oscil(2.0f, c.si, t, 4, &phasePlain), 2.0f * c.plain[k]);
      EXPECT_FLOAT_EQ(oscili(2.0f, c.si, t, 4, &phaseInterp), 2.0f * c.interpolated[k]);
      EXPECT_EQ(phasePlain, c.phases[k]);
      EXPECT_EQ(phaseInterp, c.phases[k]);
    }
  }
}

TEST(Oscil, PhaseNeverReachesTheLength) {
  double t[] = {1.0, 2.0, 3.0, 4.0};
  for (auto osc : {oscil, oscili}) {
    // 3 x 2^-24 + (4 - 2^-22) = 4 - 2^-24, which rounds to the float 4.
    float phase = std::ldexp(3.0f, -24);
    osc(1.0f, 4.0f - std::ldexp(1.0f, -22), t, 4, &phase);
    EXPECT_EQ(phase, 0.0f);
    float nanPhase = NAN;
    EXPECT_EQ(osc(1.0f, 0.0f, t, 4, &nanPhase), 1.0f);
    EXPECT_EQ(osc(1.0f, 1.0f, nullptr, 4, &phase), 0.0f);
    EXPECT_EQ(osc(1.0f, 1.0f, t, 0, &phase), 0.0f);
    EXPECT_EQ(phase, 0.0f);
  }
}

TEST(Ooscili, DerivesFactorAndFixedPointIncrement) {
  double t[] = {0.0, 10.0, 20.0, 30.0};
  struct Case {
    float rate, freq;
    double factor;
    int increment;
  };
  const Case cases[] = {
      {10, 3, 0.4, 78643},       // 0.4 x 3 x 65536 = 78643.2, truncated
      {10, -3, 0.4, -78643},     // toward zero
      {0, 440, 0.0, 0},          // no rate: the oscillator stands still
      {8, 1e30f, 0.5, INT_MAX},  // clamped, not overflowed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("rate " + std::to_string(c.rate) + " freq " + std::to_string(c.freq));
    Ooscili osc(c.rate, c.freq, t, 4);
    EXPECT_EQ(osc.incrementFactor, c.factor);
    EXPECT_EQ(osc.phaseIncrement, c.increment);
    EXPECT_EQ(osc.phase, 0);
  }
  Ooscili osc(10, 3, t, 4);
  osc.next();
  // Phase 78643 is entry 1 plus 13107/65536.
  EXPECT_FLOAT_EQ(osc.next(), static_cast<float>(10.0 + 10.0 * 13107 / 65536.0));
  EXPECT_EQ(osc.phase, 2 * 78643);
  osc.setfreq(8);
  EXPECT_EQ(osc.phaseIncrement, 209715);  // 0.4 x 8 x 65536 = 209715.2
}

TEST(Ooscili, InterpolatesAndWrapsBothWays) {
  double t[] = {0.0, 10.0, 20.0, 30.0};
  struct Case {
    const char* name;
    float freq;
    std::vector<float> values;
    std::vector<int> phases;
  };
  const Case cases[] = {
      // rate 8, so frequency 1 is half an entry a frame
      {"forward",
       1,
       {0, 5, 10, 15, 20, 25, 30, 15, 0},
       {32768, 65536, 98304, 131072, 163840, 196608, 229376, 0, 32768}},
      {"backward", -1, {0, 15, 30, 25}, {229376, 196608, 163840, 131072}},
      {"4.5 entries a frame", 9, {0, 5, 10}, {32768, 65536, 98304}},
      {"-4.5 entries a frame", -9, {0, 15, 30}, {229376, 196608, 163840}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Ooscili osc(8, c.freq, t, 4);
    for (std::size_t k = 0; k < c.values.size(); ++k) {
      SCOPED_TRACE("frame " + std::to_string(k));
      EXPECT_FLOAT_EQ(osc.next(), c.values[k]);
      EXPECT_EQ(osc.phase, c.phases[k]);
    }
  }
}

TEST(Ooscili, StaysInsideItsTable) {
  double t[] = {0.0, 10.0, 20.0, 30.0};
  Ooscili osc(8, 2, t, 4);
  // Phases written from outside the range read the wrapped position;
  // INT_MAX is entry 3 plus 65535/65536, just short of entry 0's value.
  struct Case {
    int phase;
    float value;
  };
  const Case cases[] = {{-65536, 30}, {4 * 65536 + 32768, 5}, {INT_MIN, 0}, {INT_MAX, 30.0f / 65536}};
  for (const Case& c : cases) {
    SCOPED_TRACE("phase " + std::to_string(c.phase));
    osc.phase = c.phase;
    EXPECT_FLOAT_EQ(osc.next(), c.value);
    EXPECT_GE(osc.phase, 0);
    EXPECT_LT(osc.phase, 4 << 16);
  }
  // A table past 32767 entries plays whole, with 15 bits of fraction; its
  // last entry leads back to the first.
  std::vector<double> big(40000);
  big[39999] = 1.0;
  Ooscili longTable(32767, 1, big.data(), 40000);
  EXPECT_EQ(longTable.tableLength, 40000);
  EXPECT_EQ(longTable.fractionBits(), 15);
  EXPECT_EQ(longTable.phaseIncrement, 40001);  // trunc(40000 / 32767 * 32768)
  longTable.phase = (39999 << 15) + (1 << 14);
  EXPECT_EQ(longTable.next(), 0.5f);
  EXPECT_EQ(longTable.phase, (1 << 14) + 40001 - (1 << 15));
  EXPECT_EQ(Ooscili(44100, 1, big.data(), 1 << 20).fractionBits(), 10);
  EXPECT_EQ(Ooscili(44100, 440, nullptr, 512).next(), 0.0f);
  EXPECT_EQ(Ooscili(44100, 440, t, 0).next(), 0.0f);
}

TEST(Rrand, RangeAndSeeds) {
  srrand(1);
  double lowest = 1.0, highest = -1.0, sum = 0.0;
  for (int k = 0; k < 100000; ++k) {
    const double r = rrand();
    ASSERT_GE(r, -1.0);
    ASSERT_LT(r, 1.0);
    lowest = std::min(lowest, r);
    highest = std::max(highest, r);
    sum += r;
  }
  EXPECT_LT(lowest, -0.999);
  EXPECT_GT(highest, 0.999);
  EXPECT_NEAR(sum / 100000, 0.0, 0.01);  // about 5 standard errors

  auto draw = [](unsigned seed) {
    srrand(seed);
    std::vector<double> values(16);
    for (double& v : values) v = rrand();
    return values;
  };
  for (unsigned seed : {0u, 12345u, 0xFFFFFFFFu}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    EXPECT_EQ(draw(seed), draw(seed));
    EXPECT_NE(draw(seed), draw(seed + 1));
  }
  // splitmix64's published first output for seed 0, scaled to [-1, 1).
  srrand(0);
  EXPECT_EQ(rrand(), static_cast<double>(0xE220A8397B1DCDAFull >> 11) * 0x1p-52 - 1.0);
}

TEST(Delput, StoresThenAdvancesAndWraps) {
  float line[3] = {0, 0, 0};
  int rec[3] = {0, 44100, 3};
  const int indexAfter[] = {1, 2, 0, 1, 2};
  for (int k = 0; k < 5; ++k) {
    delput(static_cast<float>(k + 1), line, rec);
    EXPECT_EQ(rec[0], indexAfter[k]) << "put " << k;
  }
  EXPECT_EQ(std::vector<float>(line, line + 3), (std::vector<float>{4, 5, 3}));
  int broken[3] = {7, 0, 3};  // write index past the line restarts at 0
  delput(9, line, broken);
  EXPECT_EQ(line[0], 9.0f);
  EXPECT_EQ(broken[0], 1);
}

TEST(Ampdb, ConvertsDecibelsToAmplitude) {
  struct Case {
    float db;
    double amp, tolerance;
  };
  const Case cases[] = {{0, 1, 0}, {20, 10, 1e-15}, {-20, 0.1, 1e-16}, {-6.0206f, 0.5, 1e-6}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.db) + " dB");
    EXPECT_NEAR(ampdb(c.db), c.amp, c.tolerance);
  }
}

}  // namespace
