// DUMP through the engine: the exact lines of both modes, the refresh
// cadence over any chunking, changes judged against the single-precision
// value last printed, the refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "support/TestEngine.h"

using namespace vemora;
using vemora::testing::lastMessage;
using vemora::testing::makeEngine;
using vemora::testing::makeTable;

namespace {

const std::vector<std::vector<int>> kChunkings = {{512}, {1}, {7, 3, 50}, {44}, {45}};

std::unique_ptr<Engine> dumpEngine(int controlRate = 1000, int channels = 2) {
  EngineSettings settings;
  settings.sampleRate = 44100;
  settings.controlRate = controlRate;
  settings.channels = channels;
  auto engine = makeEngine(settings);
  engine->load("DUMP");
  return engine;
}

// What one note prints, played alone; the note must be accepted and silent.
std::string printedBy(Engine& engine, std::vector<PField> pfields, const std::vector<int>& chunks) {
  ::testing::internal::CaptureStdout();
  NoteCapture note = engine.playNoteAlone("DUMP", std::move(pfields), chunks);
  std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_FALSE(note.refused);
  EXPECT_EQ(note.runResults, note.chunkSizes);
  for (float sample : note.frames) EXPECT_EQ(sample, 0.0f);
  return printed;
}

std::string valueLine(int frame, const char* amp) {
  return "DUMP (frame=" + std::to_string(frame) + "):  amp=" + amp + "\n";
}

std::string valueLine(int frame, int amp) { return valueLine(frame, (std::to_string(amp) + ".000000").c_str()); }

}  // namespace

TEST(Dump, ConstantValuePrintsOneLineAtTheFirstFrame) {
  for (int channels : {1, 2}) {
    for (const std::vector<int>& chunks : kChunkings) {
      SCOPED_TRACE(::testing::Message() << channels << " channels, first chunk " << chunks[0]);
      auto engine = dumpEngine(1000, channels);
      EXPECT_EQ(printedBy(*engine, {0, 0.01, 0.5}, chunks), valueLine(0, "0.500000"));
    }
  }
}

// A table in p2 moves over the note (frame f of 441 reads f * 440 / 440 of
// a {0, 440} line): at 44100 Hz the period is trunc(44100 / rate) frames,
// 44 at 1000, and 0 (every frame) once the rate passes the sampling rate.
TEST(Dump, RampPrintsAtEveryRefreshOfTheControlPeriod) {
  for (auto [rate, period] : {std::pair{1000, 44}, {300, 147}, {44100, 1}, {100000, 1}}) {
    for (const std::vector<int>& chunks : kChunkings) {
      SCOPED_TRACE(::testing::Message() << "rate " << rate << ", first chunk " << chunks[0]);
      auto engine = dumpEngine(rate);
      std::string expected;
      for (int f = 0; f < 441; f += period) expected += valueLine(f, f);
      EXPECT_EQ(printedBy(*engine, {0, 0.01, makeTable({0, 440})}, chunks), expected);
    }
  }
}

// Held for the first half, then climbing: refreshes at 44 ... 220 see the
// value already printed and stay quiet.
TEST(Dump, OnlyRefreshesThatSeeAChangePrint) {
  for (const std::vector<int>& chunks : kChunkings) {
    SCOPED_TRACE(chunks[0]);
    auto engine = dumpEngine();
    const std::string expected = valueLine(0, 2) + valueLine(264, 46) + valueLine(308, 90) + valueLine(352, 134) +
                                 valueLine(396, 178) + valueLine(440, 222);
    EXPECT_EQ(printedBy(*engine, {0, 0.01, makeTable({2, 2, 2, 112, 222})}, chunks), expected);
  }
}

// The last value is kept in single precision and compared widened: NaN and
// a value single precision cannot hold differ from it at every refresh,
// and minus infinity equals the start value, so it never prints.
TEST(Dump, ChangeIsJudgedAgainstTheSinglePrecisionValue) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double minusInfinity = -std::numeric_limits<double>::infinity();
  for (auto [value, text] : {std::pair{0.1, "0.100000"}, {nan, "nan"}, {0.25, nullptr}, {minusInfinity, ""}}) {
    SCOPED_TRACE(value);
    auto engine = dumpEngine();
    std::string expected;
    if (text == nullptr) {
      expected = valueLine(0, "0.250000");
    } else if (*text != '\0') {
      for (int f = 0; f < 441; f += 44) expected += valueLine(f, text);
    }
    EXPECT_EQ(printedBy(*engine, {0, 0.01, value}, {512}), expected);
  }
}

TEST(Dump, TableModeDumpsTheWholeTableAtEveryRefresh) {
  const std::string entries = "  [0]\t0.250000\n  [1]\t-1.000000\n  [2]\t3.500000\n  [3]\t1000000.000000\n";
  struct Case {
    const char* name;
    std::vector<PField> pfields;
    std::string body;
  };
  const std::vector<Case> cases = {
      {"four-entry table", {0, 0.002, makeTable({0, 1}), makeTable({0.25, -1, 3.5, 1e6})}, entries},
      {"extra pfield", {0, 0.002, 0.5, makeTable({0.25, -1, 3.5, 1e6}), 7}, entries},
      {"p3 a number", {0, 0.002, 0.5, 3}, ""},
  };
  for (const Case& c : cases) {
    for (const std::vector<int>& chunks : kChunkings) {
      SCOPED_TRACE(::testing::Message() << c.name << ", first chunk " << chunks[0]);
      auto engine = dumpEngine();
      std::string expected;
      // 88 frames: refreshes at 0 and 44.
      for (int f : {0, 44})
        expected += "DUMP (frame=" + std::to_string(f) + ").............................." + "\n" + c.body + "\n";
      EXPECT_EQ(printedBy(*engine, c.pfields, chunks), expected);
    }
  }
}

// Inside a render the note's first chunk is short; refreshes still count
// note frames from the note's start.
TEST(Dump, RenderedNoteCountsFramesFromItsOwnStart) {
  auto engine = dumpEngine();
  ASSERT_TRUE(engine->playNote("DUMP", {0.3, 0.01, makeTable({0, 440})}));
  ::testing::internal::CaptureStdout();
  std::vector<float> out = engine->renderToMemory();
  const std::string printed = ::testing::internal::GetCapturedStdout();
  std::string expected;
  for (int f = 0; f < 441; f += 44) expected += valueLine(f, f);
  EXPECT_EQ(printed, expected);
  ASSERT_EQ(out.size(), size_t(13230 + 441) * 2);
  for (float sample : out) ASSERT_EQ(sample, 0.0f);
}

TEST(Dump, RefusesWideOutputsAndMissingValue) {
  struct Case {
    int channels;
    const char* buses;
    std::vector<PField> pfields;
    std::string message;
  };
  const std::vector<Case> cases = {
      {3, nullptr, {0, 0.01, 0.5}, "Output must be mono or stereo."},
      {4, "out0-2", {0, 0.01, 0.5, makeTable({1})}, "Output must be mono or stereo."},
      {2, nullptr, {0, 0.01}, "Give at least 3 pfields: start, duration and the value to watch (p2); this note has 2."},
      {2, nullptr, {}, "Give at least 3 pfields: start, duration and the value to watch (p2); this note has 0."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.channels << " channels, " << c.pfields.size() << " pfields");
    auto engine = dumpEngine(1000, c.channels);
    if (c.buses) engine->busConfig("DUMP", {c.buses});
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(engine->playNote("DUMP", c.pfields));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(lastMessage(*engine), c.message);
    EXPECT_EQ(engine->messages().back().name, "DUMP");
  }
  auto engine = dumpEngine();
  EXPECT_FALSE(engine->playNote("DUMP", {-1, 0.01, 0.5}));
  EXPECT_EQ(engine->messages().back().name, "DUMP");
}
