#include "pitchconv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

namespace {

constexpr double kMiddleCHz = 261.6255653005987;

// Units in the last place between two finite doubles of the same sign.
std::int64_t ulpsApart(double a, double b) {
  std::int64_t ia = 0;
  std::int64_t ib = 0;
  std::memcpy(&ia, &a, sizeof a);
  std::memcpy(&ib, &b, sizeof b);
  return std::llabs(ia - ib);
}

std::string refusal(const std::string& text) { return "Invalid pitch representation \"" + text + "\"."; }

TEST(PitchConv, ReferencePitchesAreExact) {
  EXPECT_EQ(cpspch(8.00), kMiddleCHz);
  EXPECT_EQ(cpsoct(8.0), kMiddleCHz);
  EXPECT_NEAR(cpspch(8.09), 440.0, 1e-12);
  EXPECT_EQ(octpch(8.09), 8.749999999999998);
  EXPECT_EQ(pchoct(8.75), 8.09);
  EXPECT_LE(ulpsApart(octcps(440.0), 8.75), 1);
  EXPECT_LE(ulpsApart(pchcps(440.0), 8.09), 1);
}

TEST(PitchConv, NegativeValuesKeepNegativeFractions) {
  EXPECT_EQ(octpch(-0.5), -4.166666666666667);
  EXPECT_EQ(pchoct(-0.25), -0.03);
  // (2.0 - 3.0) x 12 + 0.5 = -11.5 truncates toward zero, not down to -12.
  EXPECT_EQ(midipch(2.00), -11.0);
}

// A quarter tone (pch + .005) is half a MIDI step; where the sum lands on or
// above the half it rounds up.
TEST(PitchConv, MidipchRoundsHalfStepsUp) {
  EXPECT_EQ(midipch(8.005), 61.0);
  EXPECT_EQ(midipch(8.015), 62.0);
}

TEST(PitchConv, NonPositiveHzFollowsTheLogarithm) {
  EXPECT_EQ(octcps(0.0), -INFINITY);
  EXPECT_EQ(pchcps(0.0), -INFINITY);
  EXPECT_TRUE(std::isnan(octcps(-440.0)));
  EXPECT_TRUE(std::isnan(pchcps(-440.0)));
}

TEST(PitchConv, MidiReferenceNotes) {
  EXPECT_EQ(midipch(8.00), 60.0);
  EXPECT_EQ(midipch(8.09), 69.0);
  EXPECT_LE(ulpsApart(pchmidi(69), 8.09), 2);
  EXPECT_EQ(octmidi(0), 3.0);
  EXPECT_EQ(octmidi(60), 8.0);
  EXPECT_EQ(octmidi(255), 24.25);
}

TEST(PitchConv, EveryMidiNoteRoundTripsThroughPch) {
  for (int note = 0; note <= 255; ++note) {
    SCOPED_TRACE(note);
    EXPECT_EQ(midipch(pchmidi(static_cast<unsigned char>(note))), note);
  }
}

TEST(PitchConv, MidiArgumentKeepsOnlyTheLowEightBits) {
  for (int wide : {60 + 0x100, 60 + 0x7f00, 60 - 0x100}) {
    SCOPED_TRACE(wide);
    EXPECT_EQ(octmidi(wide), 8.0);
    EXPECT_EQ(pchmidi(wide), pchmidi(60));
  }
}

// Every pitch class of every octave against equal temperament from A = 440 Hz.
TEST(PitchConv, PitchClassesFollowEqualTemperament) {
  for (int octave = 0; octave <= 14; ++octave) {
    for (int pc = 0; pc < 12; ++pc) {
      const double pch = octave + pc / 100.0;
      SCOPED_TRACE(pch);
      const int semitonesFromA = 12 * (octave - 8) + pc - 9;
      const double hz = 440.0 * std::exp2(semitonesFromA / 12.0);
      // Below note 0, adding a half and truncating toward zero lands one up.
      const int note = 12 * (octave - 3) + pc;
      EXPECT_EQ(midipch(pch), note >= 0 ? note : note + 1);
      EXPECT_NEAR(octpch(pch), octave + pc / 12.0, 1e-12);
      EXPECT_NEAR(cpspch(pch) / hz, 1.0, 1e-12);
      // pchcps does not round: just under an octave may come back as x.1199...
      // rather than (x+1).00, which names the same pitch.
      EXPECT_NEAR(octpch(pchcps(hz)), octave + pc / 12.0, 1e-12);
      EXPECT_NEAR(octcps(hz), octave + pc / 12.0, 1e-12);
    }
  }
}

TEST(PitchConv, LetterNamesParse) {
  const struct {
    const char* text;
    double oct;
  } cases[] = {{"A4", 8.75},
               {"C#4", 8.083333333333334},
               {"Cbb4", 7.833333333333333},
               {"B#4", 9.0},
               {"A4 -100", 8.666666666666666},
               {"C4 50", 8.041666666666666},
               {" A 4", 8.75},
               {"  A4  ", 8.75},
               {"C0", 4.0},
               {"C9", 13.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    testing::internal::CaptureStderr();
    EXPECT_EQ(octlet(c.text), c.oct);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  }
}

// Every letter, accidental, octave digit and cents value against the defining
// sum, whose two step constants are one ulp away from their neighbours.
TEST(PitchConv, LetterNamesSweepAgainstTheDefiningSum) {
  constexpr double kSemitoneOct = 0.08333333333333333;
  constexpr double kCentOct = 0.0008333333333333333;
  const std::pair<char, int> letters[] = {{'C', 0}, {'D', 2}, {'E', 4}, {'F', 5}, {'G', 7}, {'A', 9}, {'B', 11}};
  const std::pair<const char*, int> accidentals[] = {{"", 0},    {"#", 1},  {"b", -1}, {"x", 2},
                                                     {"bb", -2}, {"#b", 0}, {"xb", 1}};
  for (const auto& [letter, letterSemitones] : letters) {
    for (const auto& [accidental, shift] : accidentals) {
      for (int digit = 0; digit <= 9; ++digit) {
        for (int cents = -100; cents <= 100; ++cents) {
          char text[32];
          std::snprintf(text, sizeof text, "%c%s%d %d", letter, accidental, digit, cents);
          double expected = (letterSemitones + shift) * kSemitoneOct + (digit + 4);
          if (cents != 0) expected += cents * kCentOct;
          SCOPED_TRACE(text);
          ASSERT_EQ(octlet(text), expected);
        }
      }
    }
  }
}

TEST(PitchConv, LetterNameSpellingsOfOnePitchAgree) {
  const struct {
    const char* spelling;
    const char* plain;
  } cases[] = {{"Ax4", "B4"},   {"C#b4", "C4"},   {"Cxb4", "C#4"},    {"Fb4", "E4"},
               {"B#4", "C5"},   {"E b 3", "Eb3"}, {"A4+50", "A4 50"}, {"A4 0", "A4"},
               {"A4 +0", "A4"}, {"A4 -0", "A4"},  {"A4\t50", "A4 50"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.spelling);
    EXPECT_EQ(octlet(c.spelling), octlet(c.plain));
  }
  // A hundred cents is a semitone, to within the rounding of the cents step.
  EXPECT_NEAR(octlet("A4 100"), octlet("A#4"), 1e-15);
  EXPECT_NEAR(octlet("A4 -100"), octlet("Ab4"), 1e-15);
}

TEST(PitchConv, LetterNameFunctionsFollowOctlet) {
  EXPECT_EQ(pchlet("A4"), pchoct(8.75));
  EXPECT_EQ(cpslet("A4"), cpsoct(8.75));
  EXPECT_EQ(cpslet("C4"), kMiddleCHz);
}

TEST(PitchConv, MalformedLetterNamesAreRefused) {
  const char* cases[] = {"",
                         "   ",
                         "a4",
                         "H4",
                         "C##4",
                         "A#x",
                         "A4 101",
                         "A4 -101",
                         "A4 50 ",
                         "A4 50x",
                         "A4 +",
                         "A4 5.5",
                         "A4 - 5",
                         "\tA4",
                         "A4\t",
                         "C#",
                         "A",
                         "Bb  ",
                         "A4 99999999999999999999"};
  for (const char* text : cases) {
    SCOPED_TRACE(testing::PrintToString(text));
    testing::internal::CaptureStderr();
    EXPECT_EQ(octlet(text), 8.0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), refusal(text));
    testing::internal::CaptureStderr();
    EXPECT_EQ(pchlet(text), 8.0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), refusal(text));
    testing::internal::CaptureStderr();
    EXPECT_EQ(cpslet(text), kMiddleCHz);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), refusal(text));
  }
}

}  // namespace
