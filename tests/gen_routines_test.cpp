#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "GenRoutines.h"

using vemora::GenError;
using vemora::makeGenTable;

namespace {

using Table = std::vector<double>;

struct Case {
  const char* name;
  int number;
  long long size;
  Table args;
  Table expected;
};

void expectTables(const Case* begin, const Case* end, double tolerance) {
  for (const Case* c = begin; c != end; ++c) {
    SCOPED_TRACE(c->name);
    const Table got = makeGenTable(c->number, c->size, c->args);
    ASSERT_EQ(got.size(), c->expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      SCOPED_TRACE("entry " + std::to_string(i));
      EXPECT_NEAR(got[i], c->expected[i], tolerance);
    }
  }
}

template <std::size_t N>
void expectTables(const Case (&cases)[N], double tolerance = 0.0) {
  expectTables(cases, cases + N, tolerance);
}

TEST(GenRoutines, LiteralValues) {
  const Case cases[] = {
      {"missing values are 0", 2, 4, {1, 2}, {1, 2, 0, 0}},
      {"extra values ignored", 2, 3, {1, 2, 3, 4, 5}, {1, 2, 3}},
      {"never normalised", 2, 2, {5, -10}, {5, -10}},
      {"negative number, same table", -2, 2, {5, -10}, {5, -10}},
  };
  expectTables(cases);
}

TEST(GenRoutines, LineSegments) {
  const Case cases[] = {
      {"one rising line", 7, 5, {0, 1, 1}, {0, 0.25, 0.5, 0.75, 1}},
      // Lengths 1 and 3 share 8 entry steps: 2 up, 6 down.
      {"up then down", 7, 9, {0, 1, 1, 3, 0}, {0, 0.5, 1, 5.0 / 6, 4.0 / 6, 3.0 / 6, 2.0 / 6, 1.0 / 6, 0}},
      {"lengths are relative", 7, 9, {0, 2, 1, 6, 0}, {0, 0.5, 1, 5.0 / 6, 4.0 / 6, 3.0 / 6, 2.0 / 6, 1.0 / 6, 0}},
      {"zero length is a step to the later value", 7, 3, {0, 1, 0, 0, 1, 1, 1}, {0, 1, 1}},
      {"not normalised", 7, 3, {0, 1, 5}, {0, 2.5, 5}},
      {"one entry holds the last value", 7, 1, {3, 1, 9}, {9}},
      {"negative number, same table", -7, 5, {0, 1, 1}, {0, 0.25, 0.5, 0.75, 1}},
  };
  expectTables(cases, 1e-15);
}

TEST(GenRoutines, ExponentialSegments) {
  const Case cases[] = {
      {"doubling", 5, 5, {1, 1, 16}, {1, 2, 4, 8, 16}},
      {"negative values", 5, 5, {-1, 1, -16}, {-1, -2, -4, -8, -16}},
      {"down and up", 5, 5, {8, 1, 2, 1, 8}, {8, 4, 2, 4, 8}},
  };
  expectTables(cases, 1e-14);
}

TEST(GenRoutines, Breakpoints) {
  const Case cases[] = {
      {"one line", 27, 5, {0, 0, 1, 1}, {0, 0.25, 0.5, 0.75, 1}},
      {"peak in the middle", 27, 5, {0, 0, 2, 1, 4, 0}, {0, 0.5, 1, 0.5, 0}},
      {"x need not start at 0", 27, 3, {1, 0, 3, 1}, {0, 0.5, 1}},
      {"x may be negative", 27, 3, {-1, 4, 1, 8}, {4, 6, 8}},
      {"equal x is a step", 27, 5, {0, 0, 1, 0, 1, 1, 2, 1}, {0, 0, 1, 1, 1}},
      {"uneven spacing", 27, 11, {0, 0, 0.2, 1, 1, 0}, {0, 0.5, 1, 0.875, 0.75, 0.625, 0.5, 0.375, 0.25, 0.125, 0}},
  };
  expectTables(cases, 1e-15);
}

TEST(GenRoutines, SegmentsEndExactlyOnTheLastValue) {
  // Awkward ratios: interpolating to the end would miss the last value by rounding.
  const Case cases[] = {
      {"gen 7, three segments", 7, 10, {0.3, 0.7, 0.1, 1.3, 0.7, 0.9, 0.7}, {}},
      {"gen 5", 5, 7, {0.1, 3, 0.7}, {}},
      {"gen 27", 27, 7, {0.1, 0.3, 0.7, 0.7}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Table got = makeGenTable(c.number, c.size, c.args);
    EXPECT_EQ(got.front(), c.number == 27 ? c.args[1] : c.args.front());
    EXPECT_EQ(got.back(), c.args.back());
  }
}

TEST(GenRoutines, HarmonicsAndPartials) {
  const double r = std::sqrt(0.5);
  const double peak = r + 0.5;  // harmonics 1 and 2 (half strength), at entry 1 of 8
  const Case cases[] = {
      {"one sine, four entries", 10, 4, {1}, {0, 1, 0, -1}},
      {"normalised", 10, 4, {2}, {0, 1, 0, -1}},
      {"negative: raw strengths", -10, 4, {2}, {0, 2, 0, -2}},
      {"two harmonics, normalised",
       10,
       8,
       {1, 0.5},
       {0, peak / peak, 1 / peak, (r - 0.5) / peak, 0, (0.5 - r) / peak, -1 / peak, -1}},
      {"two harmonics, raw", -10, 8, {1, 0.5}, {0, peak, 1, r - 0.5, 0, 0.5 - r, -1, -peak}},
      {"harmonic at half the table rate stays silent when normalised", 10, 4, {0, 1}, {0, 0, 0, 0}},
      {"silent stays silent", 10, 4, {0, 0}, {0, 0, 0, 0}},
      {"partial 1 at 90 degrees", 9, 4, {1, 1, 90}, {1, 0, -1, 0}},
      {"half a period", 9, 4, {0.5, 1, 0}, {0, r, 1, r}},
      {"partials sum", -9, 4, {1, 1, 0, 1, 0.5, 90}, {0.5, 1, -0.5, -1}},
      {"partial 2 at 180 degrees", -9, 8, {2, 3, 180}, {0, -3, 0, 3, 0, -3, 0, 3}},
  };
  expectTables(cases, 1e-15);
}

TEST(GenRoutines, Windows) {
  const Case cases[] = {
      {"Hamming", 20, 5, {1}, {0.08, 0.54, 1, 0.54, 0.08}},
      {"Hanning", 20, 5, {2}, {0, 0.5, 1, 0.5, 0}},
      {"Bartlett", 20, 5, {3}, {0, 0.5, 1, 0.5, 0}},
      {"Blackman", 20, 5, {4}, {0, 0.34, 1, 0.34, 0}},
      // An even size misses the centre: the raw peak is 0.75.
      {"Hanning, even size, normalised", 20, 4, {2}, {0, 1, 1, 0}},
      {"Hanning, even size, raw", -20, 4, {2}, {0, 0.75, 0.75, 0}},
      {"peak scales the normalised window", 20, 4, {2, 2}, {0, 2, 2, 0}},
      {"peak scales the raw window", -20, 4, {2, 2}, {0, 1.5, 1.5, 0}},
      {"Bartlett, even size", 20, 4, {3}, {0, 1, 1, 0}},
      {"Bartlett, even size, raw", -20, 4, {3}, {0, 2.0 / 3, 2.0 / 3, 0}},
      {"one entry is the peak", 20, 1, {1, 0.5}, {0.5}},
  };
  expectTables(cases, 1e-15);
}

TEST(GenRoutines, RefusesBadArguments) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Refusal {
    int number;
    long long size;
    Table args;
    const char* text;
  };
  const Refusal cases[] = {
      {7, 1000000000000LL, {0, 1, 1}, "table size 1000000000000 is too large (at most 67108864 entries)"},
      {10, 0, {1}, "table size 0 must be at least 1"},
      {2, -5, {1}, "table size -5 must be at least 1"},
      {10, vemora::kMaxTableSize + 1, {1}, "table size 67108865 is too large"},
      {0, 8, {1}, "gen 0 is not a known routine"},
      {1, 8, {1}, "gen 1 is not a known routine"},
      {-13, 8, {1}, "gen -13 is not a known routine"},
      {INT_MIN, 8, {1}, "is not a known routine"},
      {2, 8, {1, nan}, "gen 2: argument 2 is not a finite number"},
      {10, 8, {inf}, "gen 10: argument 1 is not a finite number"},
      {-7, 8, {0, 1, -inf}, "gen -7: argument 3 is not a finite number"},
      {7, 8, {0, 1}, "an odd count of at least 3"},
      {7, 8, {0}, "an odd count of at least 3"},
      {7, 8, {0, -1, 1}, "gen 7: lengths must not be negative"},
      {7, 8, {0, 0, 1, 0, 2}, "gen 7: the lengths add up to 0"},
      {5, 8, {1, 1}, "an odd count of at least 3"},
      {5, 8, {1, 1, 0}, "gen 5: values must not be 0"},
      {5, 8, {1, 1, -2}, "gen 5: values must all have the same sign"},
      {-5, 8, {-1, 1, 2, 1, -3}, "gen -5: values must all have the same sign"},
      {5, 8, {1, -1, 2}, "gen 5: lengths must not be negative"},
      {27, 8, {0, 1, 1}, "an even count of at least 4"},
      {27, 8, {0, 1, 2, 3, 1, 0}, "gen 27: x values must not decrease (1 follows 2)"},
      {27, 8, {1, 0, 1, 5}, "gen 27: the x values span nothing"},
      {27, 8, {-1e308, 0, 1e308, 1}, "gen 27: the x values span too wide a range"},
      {9, 8, {1, 1}, "gen 9: needs partial, strength, phase triples"},
      {10, 8, {}, "gen 10: needs at least one harmonic strength"},
      {-10, 8, {1e308, 1e308, 1e308}, "gen -10: the values overflow"},
      {20, 8, {}, "gen 20: needs a window kind"},
      {20, 8, {1, 1, 1}, "gen 20: needs a window kind"},
      {20, 8, {0}, "gen 20: window kind must be 1 (Hamming), 2 (Hanning), 3 (Bartlett) or 4 (Blackman), got 0"},
      {20, 8, {2.5}, "got 2.5"},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      makeGenTable(c.number, c.size, c.args);
      ADD_FAILURE() << "accepted";
    } catch (const GenError& e) {
      EXPECT_NE(std::string(e.what()).find(c.text), std::string::npos) << e.what();
    }
  }
}

}  // namespace
