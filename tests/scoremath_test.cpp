// scoremath through the engine: the random functions against a drand48
// sequence computed here, both forms of prob, constrain, map, and the
// refusal of calls with missing arguments or ranges that cannot be drawn.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/TempFolder.h"
#include "ScoreReader.h"
#include "support/TestEngine.h"

using namespace vemora;
using vemora::testing::lastMessage;
using vemora::testing::makeEngine;

namespace {

std::unique_ptr<Engine> mathEngine() {
  auto engine = makeEngine();
  engine->load("scoremath");
  return engine;
}

// The next `count` values of drand48 from seed; drand48 is left reseeded.
std::vector<double> drands(long seed, int count) {
  srand48(seed);
  std::vector<double> values(static_cast<size_t>(count));
  for (double& v : values) v = drand48();
  srand48(seed);
  return values;
}

// The range form of prob, drawn from the sequence u: returns the value and
// the number of values used.
std::pair<double, int> rangeProb(const std::vector<double>& u, double low, double mid, double high, double tight) {
  const double spread = std::max(high - mid, mid - low);
  for (size_t k = 0; k + 1 < u.size(); k += 2) {
    const double v = std::pow(u[k + 1], tight) * spread * (u[k] > 0.5 ? 1.0 : -1.0) + mid;
    if (v >= low && v <= high) return {v, int(k + 2)};
  }
  ADD_FAILURE() << "sequence too short";
  return {0.0, 0};
}

}  // namespace

TEST(Scoremath, RegistersItsFunctionsInOrder) {
  auto engine = makeEngine();
  EXPECT_EQ(engine->load("scoremath"), (std::vector<std::string>{"sin", "cos", "lowrand", "highrand", "trirand",
                                                                 "gaussrand", "prob", "constrain", "map"}));
  EXPECT_EQ(engine->callFunction("sin", {1.0}), std::sin(1.0));
  EXPECT_EQ(engine->callFunction("cos", {1.0}), std::cos(1.0));
  EXPECT_EQ(engine->notesPlayed(), 0);
}

TEST(Scoremath, TwoDrawDistributionsTakeTwoValuesEach) {
  auto engine = mathEngine();
  const std::vector<double> u = drands(11, 7);
  EXPECT_EQ(engine->callFunction("lowrand", {}), std::min(u[0], u[1]));
  EXPECT_EQ(engine->callFunction("highrand", {5.0}), std::max(u[2], u[3]));
  EXPECT_EQ(engine->callFunction("trirand", {}), (u[4] + u[5]) * 0.5);
  EXPECT_EQ(drand48(), u[6]);
}

TEST(Scoremath, GaussrandIsThePolarMethodWithinZeroAndOne) {
  auto engine = mathEngine();
  srand48(3);
  std::vector<double> expected;
  while (expected.size() < 20) {
    const double x = 2.0 * drand48() - 1.0;
    const double y = 2.0 * drand48() - 1.0;
    const double s = x * x + y * y;
    if (s > 1.0 || s == 0.0) continue;
    const double g = std::sqrt(-2.0 * std::log(s) / s) * y;
    if (g < -5.0 || g > 5.0) continue;
    expected.push_back(g * 0.1 + 0.5);
  }
  srand48(3);
  for (double e : expected) EXPECT_EQ(engine->callFunction("gaussrand", {}), e);

  double sum = 0.0, squares = 0.0;
  constexpr int kDraws = 20000;
  for (int i = 0; i < kDraws; ++i) {
    const double g = engine->callFunction("gaussrand", {});
    ASSERT_GE(g, 0.0);
    ASSERT_LE(g, 1.0);
    sum += g;
    squares += g * g;
  }
  const double mean = sum / kDraws;
  EXPECT_NEAR(mean, 0.5, 0.003);
  EXPECT_NEAR(std::sqrt(squares / kDraws - mean * mean), 0.1, 0.003);
}

TEST(Scoremath, ProbRangeFormCentresOnTheSinglePrecisionMid) {
  auto engine = mathEngine();
  // Equal bounds exact in single precision: one attempt, two values.
  {
    const std::vector<double> u = drands(5, 3);
    EXPECT_EQ(engine->callFunction("prob", {0.25, 0.25, 0.25, 1.0}), 0.25);
    EXPECT_EQ(drand48(), u[2]);
  }
  struct Case {
    double low, mid, high, tight;
  } cases[] = {
      {0.0, 0.1, 1.0, 1.0},                                               // mid 0.1f, a little above 0.1
      {0.0, 0.1, 1.0, 3.0}, {-2.0, 0.7, 1.0, 0.5}, {0.0, 0.8, 1.0, 0.0},  // size 1: only mid - spread = 0 is inside
      {0.0, 5.0, 1.0, 1.0},                                               // the mid need not lie in the range
  };
  for (const Case& c : cases) {
    for (long seed : {1L, 2L, 3L}) {
      SCOPED_TRACE(::testing::Message() << "prob(" << c.low << ", " << c.mid << ", " << c.high << ", " << c.tight
                                        << ") seed " << seed);
      const std::vector<double> u = drands(seed, 2001);
      const auto [value, used] = rangeProb(u, c.low, double(float(c.mid)), c.high, c.tight);
      EXPECT_EQ(engine->callFunction("prob", {c.low, c.mid, c.high, c.tight}), value);
      EXPECT_EQ(drand48(), u[size_t(used)]);
    }
  }
  EXPECT_EQ(engine->messages().size(), 0u);
}

TEST(Scoremath, ProbValueForm) {
  auto engine = mathEngine();
  EXPECT_EQ(engine->callFunction("prob", {0.1, 1.0}), 0.1);  // the double, not 0.1f
  EXPECT_EQ(engine->callFunction("prob", {0.1, 7.0}), 0.1);
  EXPECT_EQ(engine->callFunction("prob", {0.7, 0.0}), 0.0);
  EXPECT_EQ(engine->callFunction("prob", {0.7, -2.0}), 0.0);
  struct Case {
    std::vector<double> args;
  } cases[] = {
      {{0.5, 0.5}},                 // exponent 1: even over 0 ... 1
      {{0.2, 0.9}},                 // crowds onto 0.2, width 0.8
      {{0.75, 0.1, 99.0}},          // a third argument is ignored
      {{0.3, 0.6, 1.0, 2.0, 3.0}},  // so are a fourth and fifth
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "prob(" << c.args[0] << ", " << c.args[1] << ") with " << c.args.size()
                                      << " arguments");
    const double mid = double(float(c.args[0]));
    const double exponent = std::log(0.5) / std::log(c.args[1]);
    const double width = mid > 0.5 ? mid : 1.0 - mid;
    const std::vector<double> u = drands(8, 2001);
    double expected = -1.0;
    size_t used = 0;
    for (; used + 1 < u.size() && !(expected >= 0.0 && expected <= 1.0); used += 2)
      expected = std::pow(u[used + 1], exponent) * width * (u[used] > 0.5 ? 1.0 : -1.0) + mid;
    EXPECT_EQ(engine->callFunction("prob", c.args), expected);
    EXPECT_EQ(drand48(), u[used]);
  }
}

TEST(Scoremath, ConstrainAndMap) {
  auto engine = mathEngine();
  struct Case {
    const char* name;
    std::vector<double> args;
    double result;
  } cases[] = {
      {"constrain", {5, 3, 1}, 3.0},       {"constrain", {-1, 3, 1}, 1.0},   {"constrain", {2, 1, 3}, 2.0},
      {"constrain", {2, 3, 3}, 3.0},       {"map", {0.25, 10, 20}, 12.5},    {"map", {1.5, 10, 20}, 25.0},
      {"map", {15, 10, 20, 0, 1}, 0.5},    {"map", {25, 10, 20, 0, 1}, 1.5}, {"map", {15, 10, 20, 0, 1, 9}, 0.5},
      {"map", {0.25, 0, 1, 100, 0}, 75.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.name << " with " << c.args.size() << " arguments, first " << c.args[0]);
    EXPECT_EQ(engine->callFunction(c.name, c.args), c.result);
  }
  EXPECT_TRUE(std::isinf(engine->callFunction("map", {15, 10, 10, 0, 1})));
}

TEST(Scoremath, CallsThatCannotBeAnsweredAreRefusedByName) {
  struct Case {
    const char* name;
    std::vector<double> args;
    const char* message;
  } cases[] = {
      {"sin", {}, "sin takes an angle in radians; this call gave 0."},
      {"cos", {}, "cos takes an angle in radians; this call gave 0."},
      {"constrain", {1, 2}, "constrain takes 3 arguments (value, bound, bound); this call gave 2."},
      {"map",
       {1, 2},
       "map takes 3 arguments (value, low, high) or 5 (value, inLow, inHigh, outLow, outHigh); "
       "this call gave 2."},
      {"map",
       {1, 2, 3, 4},
       "map takes 3 arguments (value, low, high) or 5 (value, inLow, inHigh, outLow, "
       "outHigh); this call gave 4."},
      {"prob", {0.5}, "prob takes 2 arguments (value, tightness) or 4 (low, mid, high, tightness); this call gave 1."},
      {"prob", {1, 0.5, 0, 1}, "prob's low 1 is above its high 0: there is nothing to draw."},
      {"prob", {0, 0.5, 1, -0.5}, "prob's tightness -0.5 is negative: the draw could never end."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    auto engine = mathEngine();
    const std::vector<double> u = drands(4, 1);
    try {
      engine->callFunction(c.name, c.args);
      ADD_FAILURE() << "answered";
    } catch (const ScoreError& error) {
      EXPECT_EQ(std::string(error.what()), std::string(c.name) + ": " + c.message);
    }
    EXPECT_EQ(lastMessage(*engine), c.message);
    EXPECT_EQ(engine->messages().back().name, c.name);
    EXPECT_EQ(engine->messages().back().kind, MessageKind::Refusal);
    EXPECT_EQ(drand48(), u[0]);
  }
}

TEST(Scoremath, RangeThatSinglePrecisionCannotHitEnds) {
  // 0.3f lies above 0.3, so every attempt lands off the one value that the
  // range holds; the draw gives up and answers with that value.
  auto engine = mathEngine();
  EXPECT_EQ(engine->callFunction("prob", {0.3, 0.3, 0.3, 1.0}), 0.3);
  // A mid far outside 0 ... 1 with a tightness near 1 all but never comes
  // back in: the draw gives up on the mid brought into 0 ... 1.
  srand48(1);
  EXPECT_EQ(engine->callFunction("prob", {50.0, 0.999999}), 1.0);
}

TEST(Scoremath, RefusalInAScoreNamesTheFunctionAndTheLine) {
  namespace fs = std::filesystem;
  const fs::path folder = makeTempFolder("scoremath");
  const fs::path score = folder / "phrase.lua";
  std::ofstream(score) << "load(\"scoremath\")\nx = map(0.5, 1, 2)\ny = map(0.5, 1, 2, 3)\nz = constrain(5, 3, 1)\n";
  auto engine = makeEngine();
  ScoreReader reader(*engine);
  try {
    reader.run(score.string());
    ADD_FAILURE() << "the score ran on";
  } catch (const ScoreError& error) {
    EXPECT_EQ(std::string(error.what()),
              score.string() +
                  ":3: map: map takes 3 arguments (value, low, high) or 5 (value, inLow, inHigh, "
                  "outLow, outHigh); this call gave 4.");
  }
  ASSERT_EQ(engine->messages().size(), 1u);
  EXPECT_EQ(engine->messages()[0].name, "map");
  EXPECT_EQ(engine->messages()[0].where, score.string() + ":3");
  fs::remove_all(folder);
}

// The render's seed covers the score functions too: seed N draws from
// srand48(N), and an engine of seed 0 starts where an unseeded drand48 does,
// so scores that set no seed draw what they always drew.
TEST(Scoremath, TheSeedOptionSeedsTheDraws) {
  auto engine = mathEngine();
  engine->setOption("seed=7");
  const std::vector<double> u = drands(7, 2);
  EXPECT_EQ(engine->callFunction("lowrand", {}), std::min(u[0], u[1]));
  drand48();
  auto fresh = mathEngine();
  unsigned short unseeded[3] = {0, 0, 0};
  seed48(unseeded);
  const double first = drand48(), second = drand48();
  seed48(unseeded);
  auto again = mathEngine();
  EXPECT_EQ(again->callFunction("highrand", {}), std::max(first, second));
}
