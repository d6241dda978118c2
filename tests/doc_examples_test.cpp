// Every score a reader can copy from the docs, and every score in examples/,
// runs as written: no Lua error, no missing load or input, no refused note.
// A fragment that only sets things up (an rtoutput line, say) may play no
// notes; anything else must render with exit status 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "support/TempFolder.h"
#include "support/ProgramRun.h"

namespace fs = std::filesystem;
using namespace programrun;

namespace {

const fs::path kSource = VEMORA_SOURCE_DIR;
const std::string kVemora = VEMORA_BIN_DIR "/vemora";
constexpr double kSeconds = 120.0;
const std::string kNoNotes = "vemora: the score played no notes; nothing written\n";

struct Example {
  std::string where;  // file:line of the block
  std::string score;
};

// The ```lua blocks of a markdown file, but for one under a line that says
// it is "not run by the docs test" (and why).
std::vector<Example> luaBlocks(const fs::path& file) {
  std::vector<Example> blocks;
  std::ifstream in(file);
  std::string line, score;
  int number = 0, start = 0;
  bool inside = false, skip = false;
  while (std::getline(in, line)) {
    ++number;
    if (!inside && line.find("not run by the docs test") != std::string::npos) {
      skip = true;
    } else if (!inside && line == "```lua" && std::exchange(skip, false)) {
      continue;  // its lines are read as text outside a block, and hold no fence of their own
    } else if (!inside && line == "```lua") {
      inside = true;
      start = number;
      score.clear();
    } else if (inside && line.rfind("```", 0) == 0) {
      inside = false;
      blocks.push_back({file.lexically_relative(kSource).string() + ":" + std::to_string(start), score});
    } else if (inside) {
      score += line + "\n";
    }
  }
  return blocks;
}

std::vector<fs::path> markdownFiles() {
  std::vector<fs::path> files = {kSource / "README.md"};
  for (const fs::path& folder : {kSource / "docs", kSource / "docs" / "instruments"})
    for (const auto& entry : fs::directory_iterator(folder))
      if (entry.path().extension() == ".md") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

class DocExamples : public ::testing::Test {
 protected:
  void SetUp() override {
    root = makeTempFolder("vemora-docs");
    // Scores in the docs read sounds/voice.wav beside them, or ../sounds.
    fs::create_directories(root / "work");
    fs::copy(kSource / "examples" / "sounds", root / "sounds");
    fs::copy(kSource / "examples" / "sounds", root / "work" / "sounds");
  }
  void TearDown() override { removeFolder(root); }

  Outcome render(const std::vector<std::string>& args, int n) {
    Process::Options o;
    o.args = args;
    o.args.insert(o.args.begin(), kVemora);
    o.folder = root / "work";
    o.logs = root / ("log" + std::to_string(n));
    return run(o, kSeconds);
  }

  fs::path root;
};

TEST_F(DocExamples, EveryDocScoreRunsAsWritten) {
  int n = 0;
  for (const fs::path& file : markdownFiles()) {
    for (const Example& example : luaBlocks(file)) {
      SCOPED_TRACE(example.where);
      writeFile(root / "work" / "score.lua", example.score);
      const Outcome outcome = render({"--quiet", "-o", "out.wav", "score.lua"}, ++n);
      expectNoCrashOrHang(outcome);
      const bool fragment = outcome.exitStatus == 1 && outcome.err == kNoNotes;
      EXPECT_TRUE(outcome.exitStatus == 0 || fragment) << outcome.err;
      fs::remove(root / "work" / "out.wav");
    }
  }
  EXPECT_GT(n, 30);
}

TEST_F(DocExamples, EveryExampleScoreRenders) {
  int n = 0;
  for (const auto& entry : fs::directory_iterator(kSource / "examples")) {
    if (entry.path().extension() != ".lua") continue;
    SCOPED_TRACE(entry.path().filename().string());
    const Outcome outcome = render({"--quiet", "-o", (root / "out.wav").string(), entry.path().string()}, ++n);
    expectNoCrashOrHang(outcome);
    EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
  }
  EXPECT_GT(n, 10);
}

// The cookbook's line that renders many scores at once, run as it stands
// over a folder of score variants: every one is rendered.
TEST_F(DocExamples, CookbookRendersManyScoresAtOnce) {
  std::ifstream in(kSource / "docs" / "cookbook.md");
  std::string line, command;
  while (std::getline(in, line))
    if (line.starts_with("ls scores/*.lua | xargs")) command = line;
  ASSERT_FALSE(command.empty());
  fs::create_directories(root / "work" / "scores");
  for (int seed = 1; seed <= 6; ++seed)
    writeFile(root / "work" / "scores" / ("take-" + std::to_string(seed) + ".lua"),
              "set_option('seed=" + std::to_string(seed) +
                  "')\nrtinput('../sounds/voice.wav')\nload('PAN')\n"
                  "for i = 0, 3 do PAN(i * 0.2, math.random() * 2, 0.2, 0.8, 0, 0, math.random()) end\n");
  Process::Options o;
  o.args = {"/bin/sh", "-c", command};
  o.folder = root / "work";
  o.logs = root / "xargs";
  o.environment = {std::string("PATH=") + VEMORA_BIN_DIR + ":" + std::getenv("PATH")};
  const Outcome outcome = run(o, kSeconds);
  expectNoCrashOrHang(outcome);
  EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
  for (int seed = 1; seed <= 6; ++seed)
    EXPECT_GT(fs::file_size(root / "work" / "scores" / ("take-" + std::to_string(seed) + ".wav")), 44100u);
}

}  // namespace
