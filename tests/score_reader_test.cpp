// The score reader in process: scores written to temporary files, run against
// an Engine, with PAN and the legacyprobe test functions as the plug-ins.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Engine.h"
#include "ScoreReader.h"
#include "SoundOutput.h"

namespace fs = std::filesystem;
using namespace vemora;

namespace {

// Longer than Lua's 60-character short source name, which keeps only the
// tail of a path: messages must still name the score as it was given.
const fs::path kLongFolder = "a-folder-with-a-name-long-enough-for-lua-to-shorten-it";

class ScoreReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vemora-score-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
  }
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

TEST_F(ScoreReaderTest, MathRandomRepeatsForAGivenSeed) {
  // The score reports its draws through its error message.
  const auto draws = [&](const std::string& before, unsigned engineSeed = 0) {
    const std::string path = writeScore(
        before +
        "\nerror(string.format('%.17g %.17g %d', math.random(), math.random(), math.random(99)), 0)");
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

}  // namespace
