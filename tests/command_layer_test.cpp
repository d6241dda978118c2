// The command layer's table commands on their own: which numbers gen and
// tab take, and which argument a refusal names, whatever front end the
// numbers came through.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "CommandLayer.h"

using namespace vemora;

namespace {

std::vector<Number> doubles(const std::vector<double>& values) {
  std::vector<Number> numbers;
  for (const double value : values) numbers.push_back(Number::of(value));
  return numbers;
}

// The refusal Command::from gives, or one at index 99 when it gives none.
template <class Command>
BadArgument refusal(const std::vector<Number>& args) {
  try {
    Command::from(args);
  } catch (const BadArgument& bad) {
    return bad;
  }
  return BadArgument("", 99, "", "");
}

}  // namespace

TEST(CommandLayer, ADoubleIsWholeWhenItHoldsAnInt) {
  EXPECT_EQ(Number::of(7.0).whole, 7);
  EXPECT_EQ(Number::of(-double(INT_MAX)).whole, -INT_MAX);
  for (const double value : {1.5, 3e9, -3e9, double(INT_MIN), std::nan(""), double(INFINITY)})
    EXPECT_FALSE(Number::of(value).whole) << value;
  EXPECT_EQ(Number::integer(1LL << 40).whole, 1LL << 40);
  EXPECT_FALSE(Number::none().isNumber);
}

TEST(CommandLayer, GenTakesTheSlotRoutineSizeAndValues) {
  const GenCommand command = GenCommand::from(doubles({2, 10, 512, 1, 0.5}));
  EXPECT_EQ(command.slot, 2);
  EXPECT_EQ(command.routine, 10);
  EXPECT_EQ(command.size, 512);
  EXPECT_EQ(command.values, (std::vector<double>{1, 0.5}));
  // A size beyond int reaches the engine, which says whether it is too large.
  EXPECT_EQ(GenCommand::from({Number::integer(1), Number::integer(7), Number::integer(1LL << 40)}).size, 1LL << 40);
}

TEST(CommandLayer, GenRefusalsNameTheFirstArgumentThatDoesNotFit) {
  const struct {
    std::vector<Number> args;
    size_t index;
    const char* name;
    const char* wanted;
    const char* message;
  } cases[] = {
      {{}, 0, "slot", "a whole number", "gen: give the slot, the routine number and the size"},
      {doubles({1.5}), 0, "slot", "a whole number", "gen: give the slot, the routine number and the size"},
      {doubles({1, 7}), 2, "size", "a whole number", "gen: give the slot, the routine number and the size"},
      {doubles({1, 7, 1.5, 0}), 2, "size", "a whole number",
       "gen: the slot, routine number and size must be whole numbers"},
      {doubles({1, 7, 3e9}), 2, "size", "a whole number",
       "gen: the slot, routine number and size must be whole numbers"},
      {{Number::none(), Number::of(7), Number::of(10)},
       0,
       "slot",
       "a whole number",
       "gen: the slot, routine number and size must be whole numbers"},
      {{Number::integer(1LL << 40), Number::of(7), Number::of(10)},
       0,
       "slot",
       "a whole number in the range of int",
       "gen: the slot must be a whole number in the range of int"},
      {{Number::of(1), Number::of(7), Number::of(10), Number::of(0), Number::none()},
       4,
       "value",
       "a number",
       "gen: the values must be numbers"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const BadArgument bad = refusal<GenCommand>(c.args);
    EXPECT_EQ(bad.index, c.index);
    EXPECT_EQ(bad.name, c.name);
    EXPECT_EQ(bad.wanted, c.wanted);
    EXPECT_STREQ(bad.what(), c.message);
  }
}

TEST(CommandLayer, TabTakesTheRoutineSizeAndValues) {
  const TabCommand command = TabCommand::from(doubles({7, 100, 0, 100, 1}));
  EXPECT_EQ(command.routine, 7);
  EXPECT_EQ(command.size, 100);
  EXPECT_EQ(command.values, (std::vector<double>{0, 100, 1}));
  const BadArgument bad = refusal<TabCommand>({Number::of(7), Number::none()});
  EXPECT_EQ(bad.index, 1u);
  EXPECT_EQ(bad.name, "size");
  EXPECT_STREQ(bad.what(), "tab: the routine number and size must be whole numbers");
}
