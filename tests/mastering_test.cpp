// How a render is finished into a file: TPDF dither on integer files
// (its noise what one step of it gives, repeatable by seed, off on asking)
// and --normalize (the peak brought to a level, the gain meeting float
// samples before the one rounding, nothing left behind when it fails).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <set>
#include <string>
#include <vector>

#include "SoundInput.h"
#include "SoundOutput.h"
#include "support/TempFolder.h"
#include "support/ProgramRun.h"

namespace fs = std::filesystem;
using namespace vemora;

namespace {

std::vector<float> readAll(const fs::path& path) {
  auto input = openSoundInput(path.string());
  std::vector<float> frames(size_t(input->frames()) * size_t(input->channels()));
  input->read(0, int(input->frames()), frames.data());
  return frames;
}

class MasteringTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = makeTempFolder("vemora-mastering");
    folder = root / "work";
    fs::create_directory(folder);
  }
  void TearDown() override { fs::remove_all(root); }

  // A score that pans a second of a mono sine at `level` (float file) onto
  // output channel 0, leaving channel 1 silent.
  void writeSineScore(double level, const std::string& options = "") {
    const std::string input = (folder / "sine.wav").string();
    std::vector<float> sine(44100);
    for (size_t i = 0; i < sine.size(); ++i)
      sine[i] = float(level * std::sin(2 * std::numbers::pi * 440.0 * double(i) / 44100.0));
    SoundFileWriter writer(input, outputFormatFor(input, "float"), 1, 44100);
    writer.write(sine.data(), int(sine.size()));
    writer.commit();
    programrun::writeFile(folder / "score.lua",
                          options + "load('PAN')\nrtinput('sine.wav')\nPAN(0, 0, 1, 1, 0, 0, 1)\n");
  }

  programrun::Outcome vemora(std::vector<std::string> args, rlim_t fileSizeLimit = RLIM_INFINITY) {
    args.insert(args.begin(), VEMORA_BIN_DIR "/vemora");
    args.push_back("score.lua");
    programrun::Process::Options options;
    options.args = args;
    options.folder = folder;
    options.logs = root / "log";
    options.fileSizeLimit = fileSizeLimit;
    const programrun::Outcome outcome = programrun::run(options, 60);
    programrun::expectNoCrashOrHang(outcome);
    return outcome;
  }

  std::set<std::string> files() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
    return names;
  }

  fs::path root, folder;
};

}  // namespace

// Dither of one step each side, triangular: whatever fraction of a step the
// signal sits at, the rounded samples average to it, and their error has
// the power of a quarter step squared (a uniform dither's would depend on
// the fraction; a wider one's would be larger) and never passes 1.5 steps.
// Float files are never dithered.
TEST(Dither, TpdfErrorIsUnbiasedWithAQuarterStepOfPowerAtEveryLevel) {
  const fs::path path = fs::path(::testing::TempDir()) / "vemora-dither.wav";
  for (const char* bits : {"16", "24"}) {
    const double steps = std::string(bits) == "16" ? 32768.0 : 8388608.0;
    for (const double fraction : {0.0, 0.25, 0.5, 0.8}) {
      SCOPED_TRACE(std::string(bits) + " bits, " + std::to_string(fraction) + " of a step");
      const double level = 100.0 + fraction;  // in steps
      const std::vector<float> constant(200000, float(level / steps));
      {
        SoundFileWriter writer(path.string(), outputFormatFor(path.string(), bits), 1, 44100);
        writer.ditherWith(7);
        writer.write(constant.data(), int(constant.size()));
        writer.commit();
      }
      double sum = 0, power = 0, widest = 0;
      for (const float sample : readAll(path)) {
        const double error = double(sample) * steps - level;
        sum += error, power += error * error, widest = std::max(widest, std::fabs(error));
      }
      const double mean = sum / double(constant.size());
      EXPECT_NEAR(mean, 0.0, 0.01);
      EXPECT_NEAR(power / double(constant.size()) - mean * mean, 0.25, 0.01);
      EXPECT_LE(widest, 1.5);
    }
  }
  const std::vector<float> quiet(1000, 1e-7f);
  SoundFileWriter writer(path.string(), outputFormatFor(path.string(), "float"), 1, 44100);
  writer.ditherWith(7);
  writer.write(quiet.data(), int(quiet.size()));
  writer.commit();
  EXPECT_TRUE(readAll(path) == quiet);
  fs::remove(path);
}

// A sine at -100 dBFS, far under a 16-bit step, is lost without dither and
// kept in noise with it. The noise follows the seed: the same seed gives
// the same file, another seed another. The command line's choice wins over
// the score's.
TEST_F(MasteringTest, QuietNoteSurvivesDitherAndRendersRepeatably) {
  auto silent = [&](const std::string& file) {
    const std::vector<float> frames = readAll(folder / file);
    return std::all_of(frames.begin(), frames.end(), [](float x) { return x == 0.0f; });
  };
  writeSineScore(1e-5);
  ASSERT_EQ(vemora({"--sample-format", "16", "-o", "dithered.wav"}).exitStatus, 0);
  ASSERT_EQ(vemora({"--sample-format", "16", "-o", "again.wav"}).exitStatus, 0);
  ASSERT_EQ(vemora({"--sample-format", "16", "--dither", "none", "-o", "plain.wav"}).exitStatus, 0);
  EXPECT_FALSE(silent("dithered.wav"));
  EXPECT_TRUE(silent("plain.wav"));
  EXPECT_TRUE(programrun::readFile(folder / "dithered.wav") == programrun::readFile(folder / "again.wav"));

  writeSineScore(1e-5, "set_option('seed=5')\n");
  ASSERT_EQ(vemora({"--sample-format", "16", "-o", "seed5.wav"}).exitStatus, 0);
  EXPECT_FALSE(silent("seed5.wav"));
  EXPECT_FALSE(programrun::readFile(folder / "dithered.wav") == programrun::readFile(folder / "seed5.wav"));

  writeSineScore(1e-5, "set_option('dither=none')\n");
  ASSERT_EQ(vemora({"--sample-format", "24", "-o", "score-none.wav"}).exitStatus, 0);
  ASSERT_EQ(vemora({"--sample-format", "24", "--dither", "tpdf", "-o", "cli-tpdf.wav"}).exitStatus, 0);
  // At 24 bits the sine is some 84 steps high: without dither its rounded
  // copy, with it the same plus noise.
  const std::vector<float> plain = readAll(folder / "score-none.wav"), dithered = readAll(folder / "cli-tpdf.wav");
  EXPECT_FALSE(plain == dithered);
  for (size_t i = 1; i < plain.size(); i += 2) ASSERT_EQ(plain[i], 0.0f) << "the silent channel, sample " << i;
}

// --normalize brings the peak of the whole render to -1 dBFS, or the level
// given, and the report gives the gain. For an integer file the gain meets
// the float render and is rounded once: every sample lies within half a
// step of the normalized float render.
TEST_F(MasteringTest, NormalizeBringsThePeakToTheLevelBeforeTheOneRounding) {
  writeSineScore(0.5);
  programrun::Outcome outcome = vemora({"--normalize", "-o", "loud.wav"});
  ASSERT_EQ(outcome.exitStatus, 0) << outcome.err;
  EXPECT_TRUE(programrun::contains(outcome.out, "  gain:    +5.02 dB (normalized)\n")) << outcome.out;
  EXPECT_TRUE(programrun::contains(outcome.out, "  peak:    ch0 -1.0 dBFS, ch1 -inf dBFS\n")) << outcome.out;
  const std::vector<float> loud = readAll(folder / "loud.wav");
  EXPECT_NEAR(20 * std::log10(*std::max_element(loud.begin(), loud.end())), -1.0, 1e-5);
  EXPECT_EQ(files(), (std::set<std::string>{"score.lua", "sine.wav", "loud.wav"}));

  ASSERT_EQ(vemora({"--normalize", "-2", "-o", "float.wav"}).exitStatus, 0);
  ASSERT_EQ(vemora({"--normalize", "-2", "--sample-format", "16", "--dither", "none", "-o", "int.wav"}).exitStatus, 0);
  const std::vector<float> exact = readAll(folder / "float.wav"), rounded = readAll(folder / "int.wav");
  ASSERT_EQ(exact.size(), rounded.size());
  for (size_t i = 0; i < exact.size(); ++i)
    ASSERT_LE(std::fabs(double(rounded[i]) - double(exact[i])) * 32768.0, 0.5) << "sample " << i;

  writeSineScore(0.0);
  outcome = vemora({"--normalize", "-o", "silent.wav"});
  EXPECT_EQ(outcome.exitStatus, 0);
  EXPECT_TRUE(programrun::contains(outcome.out, "  gain:    none (the render is silent")) << outcome.out;
}

// A level above 0 dBFS is refused before anything is read; a disk that
// fills during either pass leaves no file, no temporary and no scratch,
// and an earlier file under the name as it was.
TEST_F(MasteringTest, NormalizeFailuresLeaveNothingBehind) {
  writeSineScore(0.5);
  programrun::Outcome outcome = vemora({"--normalize", "0.5"});
  EXPECT_EQ(outcome.exitStatus, 1);
  EXPECT_EQ(outcome.err, "vemora: --normalize: \"0.5\" is not a level in dBFS at most 0 (-1, -0.3 ...)\n");

  programrun::writeFile(folder / "take.wav", "an earlier take");
  const rlim_t renderBytes = 44100 * 2 * sizeof(float);  // what the scratch file holds
  for (const rlim_t limit : {renderBytes / 2, renderBytes + 16}) {
    SCOPED_TRACE("file size limit " + std::to_string(limit));
    outcome = vemora({"--normalize", "-o", "take.wav"}, limit);
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_TRUE(programrun::contains(outcome.err, "vemora: rtoutput: cannot write \"take.wav\": ")) << outcome.err;
    EXPECT_EQ(files(), (std::set<std::string>{"score.lua", "sine.wav", "take.wav"}));
    EXPECT_EQ(programrun::readFile(folder / "take.wav"), "an earlier take");
  }
}
