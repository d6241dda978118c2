// The score reader in process: scores written to temporary files, run against
// an Engine, with PAN and the legacyprobe test functions as the plug-ins.
#include <cmath>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/TempFolder.h"
#include "Engine.h"
#include "ScoreReader.h"
#include "pitchconv.h"
#include "SoundOutput.h"

namespace fs = std::filesystem;
using namespace vemora;

namespace {

// Longer than Lua's 60-character short source name, which keeps only the
// tail of a path: messages must still name the score as it was given.
const fs::path kLongFolder = "a-folder-with-a-name-long-enough-for-lua-to-shorten-it";

class ScoreReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { dir = makeTempFolder("vemora-score"); }
  void TearDown() override { fs::remove_all(dir); }

  // An engine with a constant mono input of one second, which PAN scales by its gains.
  static std::unique_ptr<Engine> makeEngine(EngineSettings settings = {}) {
    auto engine = std::make_unique<Engine>(settings);
    engine->setEchoMessages(false);
    engine->addPluginPath(VEMORA_TEST_PLUGIN_DIR);
    const int rate = settings.sampleRate;
    engine->setInput(memorySoundInput(std::vector<float>(size_t(rate), 1.0f), 1, rate));
    return engine;
  }

  std::string writeScore(const std::string& text, const fs::path& name = kLongFolder / "score.lua") {
    const fs::path path = dir / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
    return path.string();
  }

  // Runs the score and returns the error it ended with, "" when none.
  static std::string run(ScoreReader& reader, const std::string& path) {
    try {
      reader.run(path);
    } catch (const ScoreError& e) {
      return e.what();
    }
    return "";
  }
  static std::string run(Engine& engine, const std::string& path) {
    ScoreReader reader(engine);
    return run(reader, path);
  }

  fs::path dir;
};

TEST_F(ScoreReaderTest, CommandsReachTheEngineWithTheScoreLine) {
  // The current directory is not the score's: relative paths are taken from the score's folder.
  const fs::path input = dir / kLongFolder / "sounds" / "in.wav";
  fs::create_directories(input.parent_path());
  SoundFileWriter writer(input.string(), outputFormatFor(input.string(), "16"), 1, 48000);
  writer.write(std::vector<float>(4800, 0.0f).data(), 4800);
  writer.commit();
  const std::string path = writeScore(R"(set_option("sr=48000", "control_rate=500")
rtinput("sounds/in.wav")
rtoutput("out.aif", 24)
load("PAN")
gen(2, 7, 100, 1, 100, 0)
assert(PAN(0, 0, 0.05, 1, 0) == true)
assert(PAN(0, 0, 0.05, 1, 3, 0, 0.5) == false)
load("legacyprobe")
assert(lp_sum(1, 2) == 2003)
)");
  auto engine = makeEngine();
  ScoreReader reader(*engine);
  ASSERT_EQ(run(reader, path), "");

  EXPECT_EQ(engine->settings().sampleRate, 48000);
  EXPECT_EQ(engine->settings().controlRate, 500);
  EXPECT_EQ(engine->notesPlayed(), 1);
  EXPECT_EQ(engine->notesRefused(), 1);
  EXPECT_EQ(reader.outputPath(), (dir / kLongFolder / "out.aif").string());
  EXPECT_EQ(reader.outputSampleFormat(), "24");
  const Message& refusal = engine->messages().at(engine->messages().size() - 1);
  EXPECT_EQ(refusal.text, "You asked for channel 3 of a 1-channel file.");
  EXPECT_EQ(refusal.where, path + ":7");

  // Once the score has ended, messages belong to no score line.
  EXPECT_FALSE(engine->playNote("PAN", {0, 0, 0.05, 1, 3, 0, 0.5}));
  EXPECT_EQ(engine->messages().back().where, "");
}

TEST_F(ScoreReaderTest, TabTableIsReadThroughTheWholeNote) {
  // The table outlives the score's own reference to it: the note holds it.
  const std::string path = writeScore(R"(load("PAN")
local sweep = tab(7, 100, 0, 100, 1)
PAN(0, 0, 1, 1, 0, 1, sweep)
sweep = nil
collectgarbage()
)");
  auto engine = makeEngine();
  ASSERT_EQ(run(*engine, path), "");
  const std::vector<float> out = engine->renderToMemory();
  ASSERT_EQ(out.size(), 2u * 44100u);
  // Linear law: channel 0 carries the pan, channel 1 the rest.
  for (const double at : {0.0, 0.25, 0.5, 0.75, 0.99}) {
    SCOPED_TRACE(at);
    const size_t frame = size_t(at * 44100);
    EXPECT_NEAR(out[2 * frame], at, 0.01);
    EXPECT_NEAR(out[2 * frame + 1], 1.0 - at, 0.01);
  }
}

TEST_F(ScoreReaderTest, ErrorsNameTheScoreAsGivenAndTheLine) {
  const struct {
    const char* score;
    int line;
    const char* start;  // of the message after the location
  } cases[] = {
      {"local x = 1\n\nlocal = 2\n", 3, "<name> expected near '='"},
      {"local x = 1\nNOPE(1)\n", 2, "attempt to call a nil value (global 'NOPE')"},
      {"local function f()\n  gen(1, 99, 10)\nend\nf()\n", 2, "gen: "},
      {"local ok, e = pcall(gen, 0, 7, 10)\nassert(not ok)\nerror(e, 0)\n", 1, "gen: "},
      {"gen(1.5, 7, 10)\n", 1, "gen: argument 1 (slot) must be a whole number, not 1.5"},
      {"tab(7, '10', 0, 1, 1)\n", 1, "tab: argument 2 (size) must be a whole number, not a string"},
      {"load('PAN')\nPAN(0, 0, 1, 1, 0, 0, '0.5')\n", 2,
       "PAN: argument 7 (p6) must be a number or a table made by tab(), not a string"},
      {"load('PAN')\nPAN(0, 0, nil, 1)\n", 2,
       "PAN: argument 3 (p2) must be a number or a table made by tab(), not nil"},
      {"load('PAN')\nPAN(0, 0, 1, {1})\n", 2,
       "PAN: argument 4 (p3) must be a number or a table made by tab(), not a table"},
      {"load('legacyprobe')\nlp_sum(1, tab(2, 2, 1, 2))\n", 2,
       "lp_sum: argument 2 (p1) must be a number, not a userdata"},
      {"load('PAN')\nPAN(0, 0, 0.1, 1, 0, 0, 0.5)\nset_option('sr=48000')\n", 3, "set_option: "},
      {"rtinput('missing.wav')\n", 1, "rtinput: "},
      {"rtoutput('out.wav', '12')\n", 1, "rtoutput: "},
      {"bus_config('PAN', 'sideways')\n", 1, "bus_config: "},
      {"load('NOSUCH')\n", 1, "load: no plug-in named NOSUCH (searched: "},
      {"local hz = 440\nhz = cpslet('a4')\n", 2, "cpslet: \"a4\" is not a pitch name"},
      {"cpsmidi(60.5)\n", 1, "cpsmidi: a MIDI note is a whole number from 0 to 255, not 60.5"},
      {"cpsmidi(256)\n", 1, "cpsmidi: a MIDI note is a whole number from 0 to 255, not 256"},
      {"cpspch('8.09')\n", 1, "cpspch: argument 1 (value) must be a number, not a string"},
      {"octpch(8, 9)\n", 1, "octpch: give one argument, not 2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.score);
    const std::string path = writeScore(c.score);
    auto engine = makeEngine();
    const std::string error = run(*engine, path);
    const std::string expected = path + ":" + std::to_string(c.line) + ": " + c.start;
    EXPECT_EQ(error.substr(0, expected.size()), expected) << error;
  }
}

// The score's pitch functions give the pitch module's values to the last bit;
// the score asserts each against the module's value, written exactly.
TEST_F(ScoreReaderTest, PitchFunctionsGiveThePitchModulesValues) {
  std::string score;
  auto check = [&](const std::string& call, double expected) {
    char exact[64];
    std::snprintf(exact, sizeof exact, "%a", expected);
    std::string test = call + " == " + exact;
    if (std::isinf(expected)) test = call + (expected > 0 ? " == math.huge" : " == -math.huge");
    if (std::isnan(expected)) test = call + " ~= " + call;
    score += "assert(" + test + ", [[" + call + "]])\n";
  };
  for (double pch : {8.09, 8.0, 3.115, -0.5, 12.13}) {
    const std::string arg = std::to_string(pch);
    const double exact = std::stod(arg);
    check("octpch(" + arg + ")", octpch(exact));
    check("cpspch(" + arg + ")", cpspch(exact));
    check("midipch(" + arg + ")", midipch(exact));
  }
  for (double value : {8.75, 0.0, 440.0, 1e-3}) {
    const std::string arg = std::to_string(value);
    const double exact = std::stod(arg);
    check("pchoct(" + arg + ")", pchoct(exact));
    check("cpsoct(" + arg + ")", cpsoct(exact));
    check("octcps(" + arg + ")", octcps(exact));
    check("pchcps(" + arg + ")", pchcps(exact));
  }
  for (int note : {0, 60, 69, 127, 255}) {
    const std::string arg = std::to_string(note);
    check("pchmidi(" + arg + ")", pchmidi(static_cast<unsigned char>(note)));
    check("octmidi(" + arg + ")", octmidi(static_cast<unsigned char>(note)));
    check("cpsmidi(" + arg + ")", cpsoct(octmidi(static_cast<unsigned char>(note))));
  }
  for (const char* name : {"A4", "C#4", "Cbb4", "Bb3 -25", " A 4", "C4 100", "G9"}) {
    const std::string arg = std::string("'") + name + "'";
    check("octlet(" + arg + ")", octlet(name));
    check("pchlet(" + arg + ")", pchlet(name));
    check("cpslet(" + arg + ")", cpslet(name));
  }
  auto engine = makeEngine();
  EXPECT_EQ(run(*engine, writeScore(score)), "");
}

TEST_F(ScoreReaderTest, MathRandomRepeatsForAGivenSeed) {
  // The score reports its draws through its error message.
  const auto draws = [&](const std::string& before, unsigned engineSeed = 0) {
    const std::string path = writeScore(
        before + "\nerror(string.format('%.17g %.17g %d', math.random(), math.random(), math.random(99)), 0)");
    EngineSettings settings;
    settings.seed = engineSeed;
    return run(*makeEngine(settings), path);
  };
  const std::string unseeded = draws("");
  const std::string seven = draws("set_option('seed=7')");
  ASSERT_FALSE(unseeded.empty());
  EXPECT_EQ(draws(""), unseeded);
  EXPECT_EQ(draws("set_option('seed=0')"), unseeded);
  EXPECT_NE(seven, unseeded);
  EXPECT_EQ(draws("set_option('seed=7')"), seven);
  // Reseeding starts the sequence over, whatever was drawn before.
  EXPECT_EQ(draws("math.random(); math.random()\nset_option('sr=44100', 'seed=7')"), seven);
  // An engine made with a seed starts the score's draws from it.
  EXPECT_EQ(draws("", 7), seven);
  // Replacing math in the score does not stop set_option from reseeding.
  EXPECT_EQ(draws("local m = math\nmath = nil\nset_option('seed=7')\nmath = m"), seven);
}

// Runs score text through runText with limits; returns the error, "" when none.
std::string runLimited(Engine& engine, const std::string& text, ScoreLimits limits,
                       const std::string& path = "/scores/limited.lua") {
  ScoreReader reader(engine, limits);
  try {
    reader.runText(text, path);
  } catch (const ScoreError& e) {
    return e.what();
  }
  return "";
}

TEST_F(ScoreReaderTest, StepLimitEndsRunawayScoresAtTheirLine) {
  const struct {
    const char* score;
    int line;  // 0: the line is not checked (coroutine.wrap adds its own)
  } cases[] = {
      {"local x = 0\nwhile true do\n  x = x + 1\nend\n", 3},
      // Each pcall catches the error, yet the loop around it fails too.
      {"while true do\n  pcall(function() while true do end end)\nend\n", 0},
      {"while true do\n  xpcall(function() while true do end end, function() while true do end end)\nend\n", 0},
      // The coroutine was made before the limit was set.
      {"local co = coroutine.wrap(function() while true do end end)\nset_option('max_score_steps=10000')\nco()\n", 0},
      {"local t = {3, 1, 2}\ntable.sort(t, function(a, b) while true do end end)\n", 2},
      {"local function f() return f() end\nf()\n", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.score);
    ScoreLimits limits;
    limits.steps = 10000;
    const std::string error = runLimited(*makeEngine(), c.score, limits);
    EXPECT_NE(error.find("the score ran more than 10000 steps, its limit (max_score_steps)"), std::string::npos)
        << error;
    if (c.line > 0) {
      EXPECT_EQ(error.rfind("/scores/limited.lua:" + std::to_string(c.line) + ": ", 0), 0u) << error;
    }
  }
}

TEST_F(ScoreReaderTest, ScoreSetsItsOwnStepLimitBelowTheReaders) {
  const std::string loop = "\nfor i = 1, 100000 do end\n";
  const struct {
    long long ceiling;
    const char* option;
    const char* error;  // "" when the loop must finish
  } cases[] = {
      {0, "max_score_steps=0", ""},
      {0, "max_score_steps=5000", "ran more than 5000 steps"},
      {1000000, "max_score_steps=5000", "ran more than 5000 steps"},
      // A score cannot raise the limit it was given.
      {5000, "max_score_steps=1000000000", "ran more than 5000 steps"},
      {5000, "max_score_steps=0", "ran more than 5000 steps"},
      {0, "max_score_steps=-1",
       "set_option: max_score_steps must be a whole number from 0 to 9223372036854775807, not \"-1\""},
      {0, "max_score_steps=", "not \"\""},
      {0, "max_score_steps=1e6", "not \"1e6\""},
      {0, "max_score_steps=99999999999999999999", "not \"99999999999999999999\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.option) + " under " + std::to_string(c.ceiling));
    ScoreLimits limits;
    limits.steps = c.ceiling;
    const std::string error = runLimited(*makeEngine(), "set_option('" + std::string(c.option) + "')" + loop, limits);
    if (*c.error == '\0') {
      EXPECT_EQ(error, "");
    } else {
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
  }

  // The step option belongs to the reader: unlike the engine's options it may
  // follow the first note.
  const std::string path = writeScore(R"(load("PAN")
PAN(0, 0, 0.01, 1, 0, 0, 0.5)
set_option("max_score_steps=100000")
assert(not pcall(set_option, "sr=48000"))
)");
  auto engine = makeEngine();
  EXPECT_EQ(run(*engine, path), "");
  EXPECT_EQ(engine->notesPlayed(), 1);
}

// Without a limit Lua runs uncounted; a limit the score sets counts its
// instructions from there on, in every thread, a coroutine made earlier
// from its first command on.
TEST_F(ScoreReaderTest, AStepLimitTheScoreSetsCountsFromWhereItIsSet) {
  const std::string before = "for i = 1, 100000 do end\n";
  EXPECT_EQ(runLimited(*makeEngine(), before + "set_option('max_score_steps=50000')\n" + before, {})
                .find("/scores/limited.lua:3: the score ran more than 50000 steps"),
            0u);
  EXPECT_EQ(runLimited(*makeEngine(), before + "set_option('max_score_steps=50000')\n", {}), "");
  const std::string error = runLimited(*makeEngine(),
                                       "local co = coroutine.wrap(function() while true do cpspch(8.0) end end)\n"
                                       "set_option('max_score_steps=10000')\nco()\n",
                                       {});
  EXPECT_NE(error.find("the score ran more than 10000 steps, its limit (max_score_steps)"), std::string::npos) << error;
  auto engine = makeEngine();
  ScoreReader reader(*engine, {});
  ASSERT_NO_THROW(reader.runText(before, "a.lua"));
  EXPECT_LT(reader.stepsTaken(), 1000);
}

TEST_F(ScoreReaderTest, StepsAreCountedAndAScoreWithinItsLimitRuns) {
  auto engine = makeEngine();
  ScoreLimits limits;
  limits.steps = 200000;
  ScoreReader reader(*engine, limits);
  ASSERT_NO_THROW(reader.runText("local n = 0\nfor i = 1, 10000 do n = n + i end\nassert(n == 50005000)\n", "a.lua"));
  // Each turn of the loop takes a few instructions: far more than 10000 and
  // far fewer than the limit.
  EXPECT_GT(reader.stepsTaken(), 10000);
  EXPECT_LT(reader.stepsTaken(), 100000);
}

TEST_F(ScoreReaderTest, WhatTheScoreAllocatesCountsAsSteps) {
  // A few instructions that build 1.6 MB: one step per 16 bytes, counted
  // for the buffer it is built in and for the string itself.
  auto engine = makeEngine();
  ScoreReader reader(*engine, {});
  ASSERT_NO_THROW(reader.runText("local s = string.rep('x', 1600000)\n", "a.lua"));
  EXPECT_GT(reader.stepsTaken(), 100000);
  EXPECT_LT(reader.stepsTaken(), 250000);
  // Strings built and dropped: little memory held, yet the loop ends.
  EXPECT_EQ(runLimited(*makeEngine(), "for i = 1, 1e9 do\n  local s = string.rep('x', i)\nend\n", {1000000, 0}),
            "/scores/limited.lua:2: the score ran more than 1000000 steps, its limit (max_score_steps); it may be "
            "caught in an endless loop");
}

TEST_F(ScoreReaderTest, TablesCountAgainstTheLimits) {
  const struct {
    ScoreLimits limits;
    const char* score;
    const char* error;
  } cases[] = {
      // 100000 entries, 3 arguments: 300000 steps.
      {{200000, 0},
       "gen(1, 10, 100000, 1, 0.5, 0.25)",
       "gen: a table of 100000 entries from 3 arguments would take "
       "the score past its limit of 200000 steps (max_score_steps)"},
      {{400000, 0}, "gen(1, 10, 100000, 1, 0.5, 0.25)\ngen(2, 10, 100000, 1, 0.5, 0.25)", "limited.lua:2: gen: "},
      {{0, 1 << 20},
       "local t = tab(7, 200000, 0, 1, 1)",
       "tab: a table of 200000 entries would take the score past "
       "its memory limit of 1048576 bytes"},
      // A size the engine refuses anyway costs nothing: its own message says why.
      {{1000, 1 << 20}, "gen(1, 7, 1e12, 0, 1, 1)", "gen: gen 7: table size 1000000000000 is too large"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.score);
    const std::string error = runLimited(*makeEngine(), c.score, c.limits);
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
  // Within the limits the tables are made.
  auto engine = makeEngine();
  EXPECT_EQ(runLimited(*engine, "gen(1, 10, 1000, 1, 0.5)\nlocal t = tab(7, 1000, 0, 1, 1)", {6000, 1 << 20}), "");
}

TEST_F(ScoreReaderTest, LegacyNotesCountAgainstTheLimits) {
  // One second of argprobe on two channels: 88200 samples, 352800 bytes.
  EXPECT_EQ(runLimited(*makeEngine(), "load('argprobe')\nargprobe(0, 1, 0.5)", {50000, 0}),
            "/scores/limited.lua:2: argprobe: its note of 88200 samples takes the score past its limit of 50000 "
            "steps (max_score_steps)");
  EXPECT_EQ(runLimited(*makeEngine(), "load('argprobe')\nfor i = 1, 100 do argprobe(0, 1, 0.5) end", {0, 1 << 20}),
            "/scores/limited.lua:2: argprobe: its note of 88200 samples takes the score past its memory limit of "
            "1048576 bytes");
  // A score that catches the refusal gets no further note written.
  auto engine = makeEngine();
  EXPECT_EQ(runLimited(*engine, "load('argprobe')\nfor i = 1, 100 do pcall(argprobe, 0, 1, 0.5) end", {0, 1 << 20}),
            "");
  EXPECT_EQ(engine->notesPlayed(), 3);
  EXPECT_EQ(engine->legacySamplesWritten(), 3 * 88200);
}

TEST_F(ScoreReaderTest, MemoryLimitEndsRunawayGrowth) {
  ScoreLimits limits;
  limits.memoryBytes = 8 << 20;
  const std::string expected = "/scores/limited.lua: the score took more than its memory limit of 8388608 bytes";
  for (const char* score : {"local t = {}\nfor i = 1, 1e8 do t[i] = i end\n", "local s = string.rep('x', 100000000)\n",
                            "local s = 'x'\nwhile true do s = s .. s end\n"}) {
    SCOPED_TRACE(score);
    EXPECT_EQ(runLimited(*makeEngine(), score, limits), expected);
  }
  // A score may catch the failure; what it let go of is free again.
  auto engine = makeEngine();
  EXPECT_EQ(runLimited(*engine, R"(
assert(not pcall(string.rep, "x", 100000000))
local ok = pcall(function() local t = {} for i = 1, 1e8 do t[i] = i end end)
assert(not ok)
collectgarbage()
load("PAN")
assert(PAN(0, 0, 0.01, 1, 0, 0, 0.5))
)",
                       limits),
            "");
  EXPECT_EQ(engine->notesPlayed(), 1);
}

TEST_F(ScoreReaderTest, TextRunsAsTheFileWould) {
  const struct {
    std::string text;
    const char* error;
  } cases[] = {
      // A first line starting with # is skipped, its line still counted.
      {"#!/usr/bin/env vemora\nerror('stop')\n", "/scores/text.lua:2: stop"},
      {"\xEF\xBB\xBF"
       "error('stop')\n",
       "/scores/text.lua:1: stop"},
      {"\xEF\xBB\xBF#!vemora\n\nerror('stop')\n", "/scores/text.lua:3: stop"},
      // Compiled chunks are refused: they could break Lua itself.
      {"\x1bLua\x54\x00", "attempt to load a binary chunk (mode is 't')"},
      {std::string("local s = 'a") + '\0' + "b'\nassert(#s == 3)\nerror('stop')\n", "/scores/text.lua:3: stop"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string error = runLimited(*makeEngine(), c.text, {}, "/scores/text.lua");
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
  // Relative paths resolve against the folder of the path given.
  const fs::path input = dir / "in.wav";
  SoundFileWriter writer(input.string(), outputFormatFor(input.string(), "16"), 1, 44100);
  writer.write(std::vector<float>(441, 0.0f).data(), 441);
  writer.commit();
  auto engine = makeEngine();
  ScoreReader reader(*engine);
  ASSERT_NO_THROW(reader.runText("rtinput('in.wav')\nrtoutput('out.wav')\n", (dir / "score.lua").string()));
  EXPECT_EQ(reader.outputPath(), (dir / "out.wav").string());
}

TEST_F(ScoreReaderTest, ScoreCannotReachTheEngineBehindItsBack) {
  // The tab() table's metatable is hidden: no second release, no lost one.
  // A metatable on _G does not run when load defines the instrument.
  const std::string path = writeScore(R"(
local t = tab(2, 2, 1, 2)
assert(getmetatable(t) == "tab")
assert(not pcall(setmetatable, t, {}))
setmetatable(_G, {__newindex = function() error("no new globals") end})
load("PAN")
assert(PAN(0, 0, 0.01, 1, 0, 0, t))
)");
  auto engine = makeEngine();
  EXPECT_EQ(run(*engine, path), "");
  EXPECT_EQ(engine->notesPlayed(), 1);
}

TEST_F(ScoreReaderTest, ScoreCannotSetFinalizers) {
  // Finalizers run with Lua's hooks off, out of reach of the step limit.
  ScoreLimits limits;
  limits.steps = 100000;
  for (const char* metatable : {"{__gc = function() while true do end end}", "{__gc = false}"}) {
    SCOPED_TRACE(metatable);
    const std::string error = runLimited(*makeEngine(), std::string("setmetatable({}, ") + metatable + ")", limits);
    EXPECT_NE(error.find("/scores/limited.lua:1: setmetatable: a score cannot set __gc finalizers"), std::string::npos)
        << error;
  }
  // A __gc added afterwards never runs, and other metatables work as usual.
  EXPECT_EQ(runLimited(*makeEngine(), R"(
local mt = {__index = function(t, k) return k .. "!" end}
local object = setmetatable({}, mt)
assert(object.hey == "hey!")
mt.__gc = function() while true do end end
object = nil
collectgarbage()
collectgarbage()
)",
                       limits),
            "");
}

}  // namespace
