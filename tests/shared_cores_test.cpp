// The cores that several instruments share: the bounded draw, the varispeed
// reader and the pfield-to-int conversions, each checked against a plain
// evaluation of what it is meant to compute.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "bounded_draw.h"
#include "pfield_int.h"
#include "varispeed.h"
#include "wavekit.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Range {
  double low, mid, high, tight;
};

const Range kRanges[] = {
    {0.0, 0.5, 1.0, 1.0},    {-3.0, 2.0, 2.5, 0.3},   {100.0, 100.0, 800.0, 4.0},
    {0.01, 0.02, 0.05, 0.0}, {-1.0, -1.0, -1.0, 2.0}, {0.0, 0.9, 1.0, 12.0},
};

// The draw written out plainly: sign from the first rrand in single
// precision, size from the second mapped onto [0, 1), redrawn until inside.
double referenceDraw(const Range& r) {
  const double spread = r.mid - r.low > r.high - r.mid ? r.mid - r.low : r.high - r.mid;
  for (int attempt = 0; attempt < kBoundedDrawAttempts; ++attempt) {
    const double a = rrand();
    const double b = rrand();
    const double sign = float(a) > 0.0f ? 1.0 : -1.0;
    const double v = r.mid + sign * (std::pow((b + 1.0) / 2.0, r.tight) * spread);
    if (v >= r.low && v <= r.high) return v;
  }
  return r.mid;
}

TEST(BoundedDraw, MatchesThePlainFormulaAndTakesTheSameDraws) {
  for (const Range& r : kRanges) {
    for (unsigned seed = 0; seed < 200; ++seed) {
      SCOPED_TRACE("seed " + std::to_string(seed) + ", mid " + std::to_string(r.mid));
      srrand(seed);
      const double drawn =
          boundedDraw(r.low, r.mid, r.high, drawHalfWidth(r.low, r.mid, r.high), r.tight, DrawFallback::Mid, rrandPick);
      const double after = rrand();
      srrand(seed);
      const double expected = referenceDraw(r);
      EXPECT_EQ(drawn, expected);
      EXPECT_EQ(after, rrand()) << "the draw took another number of values from the generator";
    }
  }
}

TEST(BoundedDraw, StaysWithinItsBoundsOverManySeeds) {
  for (const Range& r : kRanges) {
    for (unsigned seed = 0; seed < 500; ++seed) {
      srrand(seed * 7919u + 1u);
      for (int k = 0; k < 4; ++k) {
        const double v = boundedDraw(r.low, r.mid, r.high, drawHalfWidth(r.low, r.mid, r.high), r.tight,
                                     DrawFallback::MidClampedWhenOrdered, rrandPick);
        ASSERT_GE(v, r.low) << "seed " << seed;
        ASSERT_LE(v, r.high) << "seed " << seed;
      }
    }
  }
}

TEST(BoundedDraw, RetriesUntilAnAttemptLandsAndReturnsItExactly) {
  // Scripted picks: up with size 1 lands at mid + width, outside; down with
  // base 0.25 and exponent 2 lands at mid - width / 16.
  const DrawPick script[] = {{true, 1.0}, {true, 1.0}, {false, 0.25}, {true, 0.0}};
  int taken = 0;
  auto pick = [&] { return script[taken++]; };
  const double v = boundedDraw(0.0, 0.5, 1.0, 0.75, 2.0, DrawFallback::Mid, pick);
  EXPECT_EQ(taken, 3);
  EXPECT_EQ(v, 0.5 - 0.75 / 16.0);
}

TEST(BoundedDraw, EachFallbackWhenNoAttemptLands) {
  struct Case {
    const char* what;
    double low, mid, high;
    DrawFallback fallback;
    double expected;
  };
  const Case cases[] = {
      {"mid kept outside the range", 0.0, 5.0, 1.0, DrawFallback::Mid, 5.0},
      {"mid clamped", 0.0, 5.0, 1.0, DrawFallback::MidClamped, 1.0},
      {"mid clamped below", 0.0, -5.0, 1.0, DrawFallback::MidClamped, 0.0},
      {"ordered range clamps", 0.0, 5.0, 1.0, DrawFallback::MidClampedWhenOrdered, 1.0},
      {"reversed range keeps mid", 2.0, 5.0, 1.0, DrawFallback::MidClampedWhenOrdered, 5.0},
      {"reversed range, plain mid", 2.0, 5.0, 1.0, DrawFallback::Mid, 5.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    long picks = 0;
    // Every attempt lands 100 above or below mid, outside every range here.
    auto pick = [&] { return DrawPick{(picks++ & 1) != 0, 1.0}; };
    EXPECT_EQ(boundedDraw(c.low, c.mid, c.high, 100.0, 1.0, c.fallback, pick), c.expected);
    EXPECT_EQ(picks, kBoundedDrawAttempts);
  }
}

// An input of frames of two channels: channel 1 holds the signal, channel 0
// a value far from it, so reading the wrong channel shows at once.
struct BlockSource {
  std::vector<double> signal;
  int blockFrames;
  std::vector<float> block;
  size_t next = 0;
  int fetches = 0;

  BlockSource(std::vector<double> s, int frames)
      : signal(std::move(s)), blockFrames(frames), block(size_t(frames) * 2) {}
  void fetch() {
    ++fetches;
    for (int f = 0; f < blockFrames; ++f) {
      block[size_t(f) * 2] = 1.0e6f;
      block[size_t(f) * 2 + 1] = next < signal.size() ? float(signal[next]) : 0.0f;
      ++next;
    }
  }
};

// The quadratic through (0, y0), (1, y1), (2, y2) at x, in Lagrange form.
double lagrange(double y0, double y1, double y2, double x) {
  return y0 * (x - 1.0) * (x - 2.0) / 2.0 - y1 * x * (x - 2.0) + y2 * x * (x - 1.0) / 2.0;
}

TEST(VarispeedReader, MatchesADirectQuadraticInterpolationAtEverySpeed) {
  const double octaveCases[] = {-2.0, -0.4, 0.0, 0.5, 1.0, 2.7};
  const int frames = 3000;
  for (const double octaves : octaveCases) {
    SCOPED_TRACE("octaves " + std::to_string(octaves));
    std::vector<double> signal(40000);
    for (size_t k = 0; k < signal.size(); ++k)
      signal[k] = std::sin(0.01 * double(k)) + 0.3 * std::cos(0.173 * double(k));
    BlockSource source(signal, 37);
    VarispeedReader reader;
    reader.inFrame = source.blockFrames;
    reader.setOctaves(octaves, VarispeedReader::reference());
    for (int i = 0; i < frames; ++i) {
      reader.take(source.block.data(), source.blockFrames, 2, 1, [&] { source.fetch(); });
      // inCount is one more than the samples taken: the newest is sample
      // inCount - 2 of the signal, x counts from the oldest of the three.
      const int64_t newest = reader.inCount - 2;
      const double x = reader.readPos - double(newest);
      ASSERT_GE(x, 0.0) << "frame " << i;
      ASSERT_LT(x, 2.5) << "frame " << i;
      auto sample = [&](int64_t k) { return k < 0 ? 0.0 : double(float(signal[size_t(k)])); };
      const double expected = lagrange(sample(newest - 2), sample(newest - 1), sample(newest), x);
      ASSERT_NEAR(reader.value(), expected, 2e-5) << "frame " << i;
      reader.advance();
    }
    // The read position has moved on by the ratio every frame.
    EXPECT_NEAR(reader.readPos, frames * std::exp2(octaves), 1e-6 * frames * std::exp2(octaves));
    // Blocks are fetched only when used up.
    const int64_t taken = reader.inCount - 1;
    EXPECT_EQ(source.fetches, int((taken + source.blockFrames - 1) / source.blockFrames));
  }
}

TEST(VarispeedReader, AQuadraticInputComesOutExactlyTwoFramesLate) {
  // A quadratic passes through its own interpolation, so the output is the
  // input function itself, read at the position two frames back.
  auto q = [](double t) { return 0.2 + 0.003 * t - 0.00001 * t * t; };
  std::vector<double> signal(6000);
  for (size_t k = 0; k < signal.size(); ++k) signal[k] = q(double(k));
  BlockSource source(signal, 64);
  VarispeedReader reader;
  reader.inFrame = source.blockFrames;
  reader.setOctaves(-0.7, VarispeedReader::reference());
  for (int i = 0; i < 2000; ++i) {
    reader.take(source.block.data(), source.blockFrames, 2, 1, [&] { source.fetch(); });
    if (reader.inCount >= 5) {
      ASSERT_NEAR(reader.value(), q(reader.readPos - 2.0), 1e-5) << "frame " << i;
    }
    reader.advance();
  }
}

TEST(VarispeedReader, OctavesAboveSixteenInfinityAndNaNPlayAtSixteen) {
  const float ref = VarispeedReader::reference();
  VarispeedReader at16;
  at16.setOctaves(16.0, ref);
  EXPECT_NEAR(at16.increment, 65536.0, 0.01);
  for (const double octaves : {16.5, 1.0e300, kInf, kNaN}) {
    VarispeedReader r;
    r.setOctaves(octaves, ref);
    EXPECT_EQ(r.increment, at16.increment) << octaves;
  }
  VarispeedReader down;
  down.setOctaves(-1.0, ref);
  EXPECT_NEAR(down.increment, 0.5, 1e-6);
  VarispeedReader level;
  level.setOctaves(0.0, ref);
  EXPECT_NEAR(level.increment, 1.0, 1e-6);
}

struct IntCase {
  double value;
  int saturating, nanLow, orMinusOne, atLeastMinusOne, atLeastZero;
};

TEST(PfieldInt, EachVariantOnNaNInfinitiesHugeNegativeAndFractionalValues) {
  const double aboveMax = double(INT_MAX) + 1.0;
  const double belowMin = double(INT_MIN) - 1.0;
  const IntCase cases[] = {
      {kNaN, 0, INT_MIN, -1, -1, 0},
      {kInf, INT_MAX, INT_MAX, -1, INT_MAX, INT_MAX},
      {-kInf, INT_MIN, INT_MIN, -1, -1, 0},
      {1.0e300, INT_MAX, INT_MAX, -1, INT_MAX, INT_MAX},
      {-1.0e300, INT_MIN, INT_MIN, -1, -1, 0},
      {aboveMax, INT_MAX, INT_MAX, -1, INT_MAX, INT_MAX},
      {double(INT_MAX) + 0.5, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX},
      {double(INT_MAX), INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX},
      {double(INT_MIN), INT_MIN, INT_MIN, INT_MIN, -1, 0},
      {double(INT_MIN) - 0.5, INT_MIN, INT_MIN, INT_MIN, -1, 0},
      {belowMin, INT_MIN, INT_MIN, -1, -1, 0},
      {2.9, 2, 2, 2, 2, 2},
      {-2.9, -2, -2, -2, -1, 0},
      {-1.0, -1, -1, -1, -1, 0},
      {-0.5, 0, 0, 0, 0, 0},
      {0.5, 0, 0, 0, 0, 0},
      {0.0, 0, 0, 0, 0, 0},
  };
  for (const IntCase& c : cases) {
    SCOPED_TRACE("value " + std::to_string(c.value));
    EXPECT_EQ(truncSaturating(c.value), c.saturating);
    EXPECT_EQ(truncSaturatingNanLow(c.value), c.nanLow);
    EXPECT_EQ(truncOr(c.value, -1), c.orMinusOne);
    EXPECT_EQ(truncAtLeast(c.value, -1), c.atLeastMinusOne);
    EXPECT_EQ(truncAtLeast(c.value, 0), c.atLeastZero);
  }
}

TEST(PfieldInt, EveryVariantIsPlainTruncationInsideTheIntRange) {
  for (double v = -3.0e9; v <= 3.0e9; v += 1.234567e7) {
    for (const double x : {v, v / 1.0e7, v / 3.0e4}) {
      if (x < double(INT_MIN) || x > double(INT_MAX)) continue;
      const long long whole = (long long)(std::trunc(x));
      SCOPED_TRACE("value " + std::to_string(x));
      EXPECT_EQ(truncSaturating(x), whole);
      EXPECT_EQ(truncSaturatingNanLow(x), whole);
      EXPECT_EQ(truncOr(x, 12345), whole);
      EXPECT_EQ(truncAtLeast(x, -1), whole < -1 ? -1 : whole);
    }
  }
}

TEST(PfieldInt, TruncWithinClampsInTheValuesOwnPrecision) {
  const float limitF = float(1 << 30);
  const float nanF = std::numeric_limits<float>::quiet_NaN();
  const float infF = std::numeric_limits<float>::infinity();
  EXPECT_EQ(truncWithin(nanF, limitF), 0);
  EXPECT_EQ(truncWithin(infF, limitF), 1 << 30);
  EXPECT_EQ(truncWithin(-infF, limitF), -(1 << 30));
  EXPECT_EQ(truncWithin(3.0e38f, limitF), 1 << 30);
  EXPECT_EQ(truncWithin(-3.99f, limitF), -3);
  EXPECT_EQ(truncWithin(3.99f, limitF), 3);
  // 2^24 + 1 does not exist in float: the float path truncates what float holds.
  EXPECT_EQ(truncWithin(float(16777217), limitF), 16777216);

  const double limitD = double(1 << 29);
  EXPECT_EQ(truncWithin(kNaN, limitD), 0);
  EXPECT_EQ(truncWithin(kInf, limitD), 1 << 29);
  EXPECT_EQ(truncWithin(-kInf, limitD), -(1 << 29));
  EXPECT_EQ(truncWithin(double(1 << 29) + 0.5, limitD), 1 << 29);
  EXPECT_EQ(truncWithin(16777217.7, limitD), 16777217);
  EXPECT_EQ(truncWithin(-0.9, limitD), 0);
}

}  // namespace
