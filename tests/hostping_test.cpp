// HOSTPING as an embedding host sees it: bound by the engine from its
// factory alone, silent, raising bang_ready in the block that reaches the
// note's start, once for any number of notes at that time; and the example
// host program that reacts to it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/TempFolder.h"
#include "support/TestEngine.h"

using namespace vemora;
using vemora::testing::makeEngine;

namespace fs = std::filesystem;

namespace {

class NullSink : public OutputSink {
 public:
  void write(const float* interleaved, int frames) override {
    for (int i = 0; i < frames * channels; ++i) peak = std::max(peak, std::abs(interleaved[i]));
  }
  int channels = 2;
  float peak = 0.0f;
};

std::unique_ptr<Engine> hostEngine(int blockFrames) {
  EngineSettings settings;
  settings.blockFrames = blockFrames;
  auto engine = makeEngine(settings);
  EXPECT_EQ(engine->load("HOSTPING"), std::vector<std::string>{"HOSTPING"});
  takeBangReady();
  return engine;
}

// Which blocks (numbered from 0) ended with the flag raised, the host
// reading and clearing it after every block.
std::vector<int64_t> raisedBlocks(Engine& engine, int blockFrames, NullSink& sink) {
  std::vector<int64_t> raised;
  int64_t blockStart = 0;
  engine.render(sink, [&](int64_t nextFrame) {
    if (takeBangReady()) raised.push_back(blockStart / blockFrames);
    blockStart = nextFrame;
  });
  return raised;
}

}  // namespace

TEST(HostPing, FactoryAloneIsBoundUnderItsName) {
  auto engine = hostEngine(512);
  EXPECT_TRUE(engine->hasInstrument("HOSTPING"));
  EXPECT_FALSE(engine->hasFunction("HOSTPING"));
  // Loading again binds nothing new and does not fail.
  EXPECT_EQ(engine->load("HOSTPING"), std::vector<std::string>{"HOSTPING"});
}

// 2.5 s is frame 110250; 3 s is frame 132300. Three notes at 2.5 s (one
// with pfields it ignores) raise the flag once, in the block holding 110250.
TEST(HostPing, FlagRisesOnceInTheBlockThatReachesTheStart) {
  for (int block : {512, 100, 1}) {
    SCOPED_TRACE(block);
    auto engine = hostEngine(block);
    ASSERT_TRUE(engine->playNote("HOSTPING", {2.5}));
    ASSERT_TRUE(engine->playNote("HOSTPING", {2.5, 7, -1, 1e9}));
    ASSERT_TRUE(engine->playNote("HOSTPING", {3.0}));
    ASSERT_TRUE(engine->playNote("HOSTPING", {2.5}));
    NullSink sink;
    EXPECT_EQ(raisedBlocks(*engine, block, sink), (std::vector<int64_t>{110250 / block, 132300 / block}));
    EXPECT_EQ(sink.peak, 0.0f);
    EXPECT_EQ(engine->messages().size(), 0u);
  }
}

// A host that only reads the flag sees 0 until the block holding the start
// (frame 110250) has been rendered, and 1 from then on: HOSTPING never
// clears it.
TEST(HostPing, FlagStaysRaisedUntilTheHostClearsIt) {
  auto engine = hostEngine(512);
  ASSERT_TRUE(engine->playNote("HOSTPING", {2.5}));
  ASSERT_TRUE(engine->playNote("HOSTPING", {4.0}));
  NullSink sink;
  int before = 0, after = 0;
  engine->render(sink, [&](int64_t nextFrame) {
    const bool reached = nextFrame > 110250;
    ASSERT_EQ(bang_ready, reached ? 1 : 0) << "after frame " << nextFrame;
    ++(reached ? after : before);
  });
  EXPECT_EQ(before, 110250 / 512);
  EXPECT_GE(after, 4 * 44100 / 512 - 110250 / 512);
  EXPECT_EQ(takeBangReady(), 1);
  EXPECT_EQ(bang_ready, 0);
}

TEST(HostPing, NoteHasNoLengthAndWritesNothing) {
  // Without pfields the cue is at 0 s.
  const std::vector<std::vector<PField>> cases = {{0.5}, {0.5, 3, 1}, {}};
  for (const std::vector<PField>& pfields : cases) {
    SCOPED_TRACE(pfields.size());
    auto engine = hostEngine(512);
    NoteCapture note = engine->playNoteAlone("HOSTPING", pfields, {512});
    EXPECT_FALSE(note.refused);
    EXPECT_EQ(note.noteFrames, 0);
    EXPECT_EQ(note.runResults, std::vector<int>{1});
    EXPECT_EQ(note.chunkSizes, std::vector<int>{0});
    EXPECT_TRUE(note.frames.empty());
    EXPECT_EQ(takeBangReady(), 1);
  }
}

TEST(HostPing, RefusedPlacementNeverRaisesTheFlag) {
  auto engine = hostEngine(512);
  EXPECT_FALSE(engine->playNote("HOSTPING", {-1.0}));
  EXPECT_EQ(engine->messages().back().name, "HOSTPING");
  NullSink sink;
  EXPECT_TRUE(raisedBlocks(*engine, 512, sink).empty());
  EXPECT_EQ(bang_ready, 0);
}

// The example host reads a score, renders it and prints a cue for every
// block after which it found the flag raised.
TEST(HostPing, ExampleHostPrintsACuePerRaisedBlock) {
  const fs::path folder = makeTempFolder("vemora-host");
  const fs::path score = folder / "cues.lua";
  std::ofstream(score) << "set_option('sr=1000', 'block=100')\n"
                          "load('HOSTPING')\n"
                          "load('argprobe')\n"
                          "argprobe(0, 0.75, 0.5, 0.25, 0)\n"
                          "HOSTPING(0.25)\n"
                          "HOSTPING(0.25, 1, 2)\n"
                          "HOSTPING(0.5)\n";
  const std::string command = std::string(VEMORA_BIN_DIR) + "/vemora-host " + score.string() + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buffer[256];
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
  const int status = pclose(pipe);
  fs::remove_all(folder);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
  EXPECT_EQ(out,
            "cue 1: 0.2000 s to 0.3000 s (frames 200 to 300), peak since the last cue 0.5000\n"
            "cue 2: 0.5000 s to 0.6000 s (frames 500 to 600), peak since the last cue 0.5000\n"
            "2 cues in 0.7500 s\n");
}
