// The vemora program as a musician runs it: a score in a folder, the program
// started as a process, its exit status, output and files checked.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <set>
#include <string>
#include <vector>

#include "support/TempFolder.h"
#include "SoundOutput.h"

namespace fs = std::filesystem;

namespace {

// Reads the mono voice.wav that each test writes beside its score.
constexpr const char* kVoice = "rtinput('voice.wav')\nload('PAN')\n";

struct Outcome {
  int status = -1;
  std::string out, err;
};

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

size_t countOf(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// Bits per sample, from a WAV file's fmt chunk.
int wavBits(const fs::path& path) {
  const std::string bytes = readFile(path);
  const size_t fmt = bytes.find("fmt ");
  return fmt == std::string::npos ? 0 : static_cast<unsigned char>(bytes.at(fmt + 22));
}

class VemoraProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = makeTempFolder("vemora-program");
    work = root / "work";
  }
  void TearDown() override { fs::remove_all(root); }

  // A score, and beside it a second of a 440 Hz sine at half scale, mono, 16-bit.
  void writeScore(const std::string& text, const fs::path& name = "score.lua") {
    const fs::path path = work / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
    const std::string voice = (path.parent_path() / "voice.wav").string();
    std::vector<float> samples(44100);
    for (size_t i = 0; i < samples.size(); ++i) {
      samples[i] = 0.5f * float(std::sin(2.0 * std::numbers::pi * 440.0 * double(i) / 44100.0));
    }
    vemora::SoundFileWriter writer(voice, vemora::outputFormatFor(voice, "16"), 1, 44100);
    writer.write(samples.data(), int(samples.size()));
    writer.commit();
  }

  // Runs vemora in the work folder; paths in args are relative to it.
  Outcome run(const std::string& args) {
    const std::string out = (root / "stdout").string(), err = (root / "stderr").string();
    const std::string command = "cd '" + work.string() + "' && '" VEMORA_BIN_DIR "/vemora' " + args + " </dev/null >'" +
                                out + "' 2>'" + err + "'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(out), readFile(err)};
  }

  fs::path root, work;
};

TEST_F(VemoraProgramTest, FailuresExitWithOneAndWriteNothing) {
  const struct {
    const char* args;
    std::string score;
    const char* err;  // what stderr begins with
  } cases[] = {
      {"score.lua", std::string(kVoice) + "PAN(0, 0, 1,, 1)\n", "vemora: score.lua:3: "},
      {"score.lua", "load('PAN')\nrtinput('missing.wav')\n", "vemora: score.lua:2: rtinput: "},
      {"--plugin-path extra score.lua", "load('NOSUCH')\n",
       "vemora: score.lua:1: load: no plug-in named NOSUCH (searched: extra:"},
      {"score.lua", kVoice, "vemora: the score played no notes; nothing written\n"},
      {"score.lua", std::string(kVoice) + "PAN(0, 0, 1, 1, 2, 0, 0.5)\n",
       "score.lua:3: PAN: You asked for channel 2 of a 1-channel file.\n"
       "vemora: the score played no notes; nothing written\n"},
      {"--output nofolder/out.wav score.lua", std::string(kVoice) + "PAN(0, 0, 1, 1, 0, 0, 0.5)\n", "vemora: "},
      {"--bogus score.lua", "", "vemora: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.args) + "\n" + c.score);
    writeScore(c.score);
    const Outcome outcome = run(c.args);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(startsWith(outcome.err, c.err)) << outcome.err;
    EXPECT_EQ(outcome.out, "");
    // Neither the output nor a temporary of it is left behind.
    std::set<std::string> files;
    for (const auto& entry : fs::directory_iterator(work)) files.insert(entry.path().filename());
    EXPECT_EQ(files, (std::set<std::string>{"score.lua", "voice.wav"}));
  }
}

TEST_F(VemoraProgramTest, RefusedNoteStillWritesTheFileAndExitsWithTwo) {
  writeScore(std::string(kVoice) + "PAN(0, 0, 0.5, 1, 0, 0, 0.5)\nPAN(0.5, 0, 0.5, 1, 2, 0, 0.5)\n");
  const Outcome outcome = run("score.lua");
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.err, "score.lua:4: PAN: You asked for channel 2 of a 1-channel file.\n");
  EXPECT_TRUE(fs::is_regular_file(work / "score.wav"));
  EXPECT_NE(outcome.out.find("1 played, 1 refused"), std::string::npos) << outcome.out;
}

// Fifty notes that each give the same advisory, and one refused note: the
// advisory is said once with its count, every one with --verbose, none with
// --quiet; the refusal always.
TEST_F(VemoraProgramTest, AdvisoriesAreSaidOnceWithTheirCountUnlessVerbose) {
  writeScore(std::string(kVoice) +
             "load('SCULPT')\ngen(2, 10, 1024, 1)\ngen(3, 2, 2, 440, 550)\ngen(4, 2, 2, -6, -6)\n"
             "for i = 0, 49 do SCULPT(i * 0.01, 0.01, 0.001, 2, 0.5) end\n"
             "PAN(0.5, 0, 0.5, 1, 2, 0, 0.5)\n");
  const std::string advisory = "score.lua:7: SCULPT: Setting phrase curve to all 1's.";
  const std::string refusal = "score.lua:8: PAN: You asked for channel 2 of a 1-channel file.\n";
  Outcome outcome = run("score.lua");
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.err, refusal + advisory + " (50 notes; the first at this line)\n");
  outcome = run("--verbose score.lua");
  EXPECT_EQ(countOf(outcome.err, advisory + "\n"), 50u) << outcome.err;
  EXPECT_TRUE(outcome.err.ends_with(refusal)) << outcome.err;
  outcome = run("--quiet score.lua");
  EXPECT_EQ(outcome.err, refusal);
  EXPECT_EQ(outcome.status, 2);
}

// What the closing report alone would hide is said on standard error: a
// silent channel, a note of no length, a peak past full scale. Clipping in a
// 16-bit file means the file is not what was asked: exit status 2.
TEST_F(VemoraProgramTest, WarnsOfSilenceEmptyNotesAndClipping) {
  writeScore(std::string(kVoice) + "PAN(0, 0, 0.5, 4, 0, 0, 1)\nPAN(0.2, 0, 0, 1, 0, 0, 1)\n");
  const std::string silent = "vemora: warning: out.wav: channel 1 stayed silent (peak -inf)\n";
  const std::string empty =
      "vemora: warning: out.wav: 1 note was of no length and wrote no frames (a duration of 0, or too few pfields?)\n";
  Outcome outcome = run("--quiet --sample-format 16 -o out.wav score.lua");
  EXPECT_EQ(outcome.status, 2);
  EXPECT_TRUE(startsWith(outcome.err, silent + empty + "vemora: warning: out.wav: ")) << outcome.err;
  EXPECT_TRUE(contains(outcome.err, " samples passed full scale and were clipped")) << outcome.err;
  outcome = run("--quiet -o out.wav score.lua");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.err, silent + empty +
                             "vemora: warning: out.wav: the peak passes full scale (6.0 dBFS); it is kept in this "
                             "float file, but would clip when converted to 16 or 24 bits\n");
}

TEST_F(VemoraProgramTest, ListPluginsSaysWhatEachIs) {
  fs::create_directories(work);
  const Outcome outcome = run("--list-plugins --plugin-path '" VEMORA_TEST_PLUGIN_DIR "'");
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_TRUE(contains(outcome.out, "\nPAN          instrument       Scales one channel of the input")) << outcome.out;
  EXPECT_TRUE(contains(outcome.out, "\ngravy        legacy note      ")) << outcome.out;
  EXPECT_TRUE(contains(outcome.out, "\nscoremath    score functions  ")) << outcome.out;
  // A plug-in that does not say what it is: what it registers.
  EXPECT_TRUE(contains(outcome.out, "\nFRAMEPROBE   instrument       registers FRAMEPROBE\n")) << outcome.out;
}

TEST_F(VemoraProgramTest, SameScoreRendersToIdenticalFiles) {
  writeScore(std::string(kVoice) +
             "for i = 0, 7 do PAN(i * 0.1, math.random() * 0.5, 0.3, math.random(), 0, 0, math.random()) end\n");
  ASSERT_EQ(run("--quiet --output first.wav score.lua").status, 0);
  ASSERT_EQ(run("--quiet --output second.wav score.lua").status, 0);
  const std::string first = readFile(work / "first.wav");
  EXPECT_GT(first.size(), 44100u);
  EXPECT_TRUE(first == readFile(work / "second.wav"));
}

TEST_F(VemoraProgramTest, OutputGoesWhereAskedInTheFormatAsked) {
  // No output named: beside the score, with its name, 32-bit float.
  const std::string notes = std::string(kVoice) + "PAN(0, 0, 1, 1, 0, 0, 1)\n";
  writeScore(notes, "sub/song.lua");
  Outcome outcome = run("sub/song.lua");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(wavBits(work / "sub" / "song.wav"), 32);
  // p6 = 1 puts the whole sine, peak 0.5, on channel 0; float files never clip.
  for (const char* line : {"wrote sub/song.wav\n", "1.000 s, 2 channels, 44100 Hz\n", "ch0 -6.0 dBFS, ch1 -inf dBFS\n",
                           "1 played, 0 refused\n"}) {
    EXPECT_NE(outcome.out.find(line), std::string::npos) << line << outcome.out;
  }
  EXPECT_EQ(outcome.out.find("clipped"), std::string::npos) << outcome.out;

  // rtoutput names a file in the score's folder, and its format.
  writeScore("rtoutput('named.wav', '16')\n" + notes, "sub/song.lua");
  outcome = run("sub/song.lua");
  EXPECT_EQ(wavBits(work / "sub" / "named.wav"), 16);
  EXPECT_NE(outcome.out.find("clipped: 0 samples\n"), std::string::npos) << outcome.out;

  // The command line wins over rtoutput, relative to the current folder.
  fs::remove(work / "sub" / "named.wav");
  outcome = run("--quiet --output cli.wav --sample-format 24 sub/song.lua");
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(wavBits(work / "cli.wav"), 24);
  EXPECT_FALSE(fs::exists(work / "sub" / "named.wav"));
}

// A float WAV's format chunk is the 18 bytes of a format other than PCM
// (readers such as sox warn about 16), and the sound after it reads back whole.
TEST_F(VemoraProgramTest, FloatWavCarriesTheWholeFormatChunk) {
  writeScore(std::string(kVoice) + "PAN(0, 0, 1, 1, 0, 0, 1)\n");
  ASSERT_EQ(run("--quiet -o take.wav score.lua").status, 0);
  const std::string bytes = readFile(work / "take.wav");
  ASSERT_GT(bytes.size(), 40u);
  EXPECT_EQ(bytes.substr(12, 8), std::string("fmt \x12\0\0\0", 8));
  EXPECT_EQ(bytes.substr(20, 2), std::string("\x03\0", 2));  // IEEE float
  EXPECT_EQ(bytes.substr(36, 2), std::string("\0\0", 2));    // no extension
  const auto input = vemora::openSoundInput((work / "take.wav").string());
  EXPECT_EQ(input->frames(), 44100);
  std::vector<float> frames(2 * 44100);
  input->read(0, 44100, frames.data());
  float left = 0.0f, right = 0.0f;
  for (size_t f = 0; f < 44100; ++f) {
    left = std::max(left, std::fabs(frames[2 * f]));
    right = std::max(right, std::fabs(frames[2 * f + 1]));
  }
  EXPECT_NEAR(left, 0.5f, 1e-3f);  // the half-scale sine, all on channel 0
  EXPECT_EQ(right, 0.0f);
}

TEST_F(VemoraProgramTest, HelpAndVersionExitWithZero) {
  fs::create_directories(work);
  Outcome outcome = run("--help");
  EXPECT_EQ(outcome.status, 0);
  for (const char* option : {"--output", "--quiet", "--plugin-path", "--sample-format", "--version"}) {
    EXPECT_NE(outcome.out.find(option), std::string::npos) << option;
  }
  // Socket mode's options are in the same help.
  for (const char* option : {"vemora -i -n -s N", "-s N", "-n,-c", "--root", "--max-session-seconds", "--max-rate",
                             "--max-channels", "--max-memory", "&>LOG"}) {
    EXPECT_NE(outcome.out.find(option), std::string::npos) << option;
  }
  outcome = run("--version");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_TRUE(startsWith(outcome.out, "vemora ") && outcome.out.find_first_of("0123456789") == 7) << outcome.out;
}

// The audio library and those it brings are loaded for a device only: a
// render to a file is spared their loading on every run.
TEST_F(VemoraProgramTest, ARenderToAFileLoadsNoAudioLibrary) {
  writeScore(std::string(kVoice) + "PAN(0, 0, 1, 1, 0, 0, 1)\n");
  ::setenv("LD_DEBUG", "files", 1);
  const Outcome outcome = run("-q -o out.wav score.lua");
  ::unsetenv("LD_DEBUG");
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_TRUE(contains(outcome.err, "libsndfile")) << "the loader said nothing of the libraries it loaded";
  EXPECT_FALSE(contains(outcome.err, "libportaudio")) << outcome.err;
  EXPECT_FALSE(contains(outcome.err, "libasound")) << outcome.err;
}

// Each mode takes its own options only: one of the other mode is an
// unknown argument, before a score is read or a port opened.
TEST_F(VemoraProgramTest, AnOptionOfTheOtherModeIsRefused) {
  writeScore(std::string(kVoice) + "PAN(0, 0, 0.1, 1, 0, 0, 0.5)\n");
  Outcome outcome = run("score.lua --root");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err,
            "vemora: The following argument was not expected: --root\nRun 'vemora --help' for the options.\n");
  EXPECT_FALSE(fs::exists(work / "score.wav"));
  outcome = run("-i -n -s 60 --quiet");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err,
            "vemora: The following argument was not expected: --quiet\nRun 'vemora --help' for the options.\n");
  EXPECT_EQ(outcome.out, "");
}

}  // namespace

TEST_F(VemoraProgramTest, MaxScoreStepsEndsAnEndlessScore) {
  writeScore(std::string(kVoice) + "PAN(0, 0, 0.1, 1, 0, 0, 0.5)\nlocal n = 0\nwhile true do n = n + 1 end\n");
  const Outcome stopped = run("--max-score-steps 100000 score.lua");
  EXPECT_EQ(stopped.status, 1);
  EXPECT_EQ(stopped.err,
            "vemora: score.lua:5: the score ran more than 100000 steps, its limit (max_score_steps); it may be caught "
            "in an endless loop\n");
  EXPECT_FALSE(fs::exists(work / "score.wav"));

  // Within the limit the score renders; a limit must be a whole number from 0.
  writeScore(std::string(kVoice) + "PAN(0, 0, 0.1, 1, 0, 0, 0.5)\nfor i = 1, 1000 do end\n");
  EXPECT_EQ(run("--max-score-steps 100000 score.lua").status, 0);
  EXPECT_TRUE(fs::exists(work / "score.wav"));
  for (const char* bad : {"-1", "many", "1.5"}) {
    SCOPED_TRACE(bad);
    const Outcome refused = run(std::string("--max-score-steps ") + bad + " score.lua");
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(startsWith(refused.err, "vemora: --max-score-steps: ")) << refused.err;
  }
}
