// Inputs at another rate than the render: heard at the render's rate with
// their pitch, level and nothing else, read at any frame as they read
// straight through, said once per file; refused as before with
// resample=off, and untouched when their rate is the render's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "ResampledSoundInput.h"
#include "SoundOutput.h"
#include "support/TempFolder.h"
#include "support/ProgramRun.h"
#include "support/TestEngine.h"

namespace fs = std::filesystem;
using namespace vemora;
using vemora::testing::makeEngine;

namespace {

constexpr double kPi = std::numbers::pi;

class ResampleTest : public ::testing::Test {
 protected:
  void SetUp() override { folder = makeTempFolder("vemora-resample"); }
  void TearDown() override { fs::remove_all(folder); }

  // A float WAV file of frames made by sample(frame, channel).
  std::string writeInput(const std::string& name, int rate, int channels, int frames,
                         const std::function<float(int, int)>& sample) {
    const std::string path = (folder / name).string();
    SoundFileWriter writer(path, outputFormatFor(path, "float"), channels, rate);
    writer.write(vemora::testing::makeSignal(frames, channels, sample).data(), frames);
    writer.commit();
    return path;
  }

  fs::path folder;
};

std::vector<float> channelOf(const std::vector<float>& frames, int channels, int channel) {
  std::vector<float> out;
  for (size_t i = size_t(channel); i < frames.size(); i += size_t(channels)) out.push_back(frames[i]);
  return out;
}

// The complex amplitude of a sine of freqHz in samples [first, last): its
// level and phase, by least squares against a sine and a cosine.
std::complex<double> sineFit(const std::vector<float>& samples, double rate, double freqHz, size_t first, size_t last) {
  double ss = 0, cc = 0, sc = 0, ys = 0, yc = 0;
  for (size_t i = first; i < last; ++i) {
    const double phase = 2 * kPi * freqHz * double(i) / rate;
    const double s = std::sin(phase), c = std::cos(phase);
    ss += s * s, cc += c * c, sc += s * c, ys += samples[i] * s, yc += samples[i] * c;
  }
  const double det = ss * cc - sc * sc;
  return {(ys * cc - yc * sc) / det, (yc * ss - ys * sc) / det};
}

double dbfs(double level) { return 20.0 * std::log10(level); }

}  // namespace

// A 997 Hz sine at half scale, with a second sine at half scale above the
// render's Nyquist frequency (where there is room below the file's), is
// heard as the 997 Hz sine alone: its frequency kept within 0.01 %, its
// level within 0.1 dB, and all else (the upper sine's alias, ripple, the
// seams between the converter's blocks) below -100 dBFS.
TEST_F(ResampleTest, KeepsFrequencyAndLevelAndLeavesNoAlias) {
  const struct {
    int fileRate, renderRate;
    double aboveNyquistHz;  // 0: no room for one
  } cases[] = {{48000, 44100, 23000}, {96000, 44100, 30000}, {44100, 48000, 0}, {22050, 44100, 0}};
  constexpr double kFreqHz = 997.0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.fileRate) + " Hz read at " + std::to_string(c.renderRate) + " Hz");
    const std::string path =
        writeInput("sine" + std::to_string(c.fileRate) + ".wav", c.fileRate, 1, int(2.5 * c.fileRate), [&](int f, int) {
          const double t = double(f) / c.fileRate;
          return float(0.5 * std::sin(2 * kPi * kFreqHz * t) + 0.5 * std::sin(2 * kPi * c.aboveNyquistHz * t));
        });
    EngineSettings settings;
    settings.sampleRate = c.renderRate;
    auto engine = makeEngine(settings);
    engine->load("PAN");
    engine->setInput(path);
    ASSERT_EQ(engine->messages().size(), 1u);
    EXPECT_EQ(engine->messages()[0].kind, MessageKind::Advice);
    EXPECT_EQ(engine->messages()[0].text,
              path + ": " + std::to_string(c.fileRate) + " Hz resampled to " + std::to_string(c.renderRate) + " Hz");
    ASSERT_TRUE(engine->playNote("PAN", {0, 0, 2.5, 1, 0, 0, 1}));  // all of it on channel 0
    const std::vector<float> heard = channelOf(engine->renderToMemory(), 2, 0);

    // Half a second at each end is left out: the file starts and stops there.
    const double rate = c.renderRate;
    const size_t first = size_t(rate / 2), middle = size_t(rate * 1.25), last = size_t(rate * 2);
    const std::complex<double> whole = sineFit(heard, rate, kFreqHz, first, last);
    EXPECT_NEAR(dbfs(std::abs(whole)), dbfs(0.5), 0.1);
    // A frequency off by df turns the phase by 2 pi df over the time between
    // the two halves' centres.
    const double turn =
        std::arg(sineFit(heard, rate, kFreqHz, middle, last) / sineFit(heard, rate, kFreqHz, first, middle));
    const double offHz = turn / (2 * kPi * (double(last - first) / 2 / rate));
    EXPECT_LT(std::fabs(offHz) / kFreqHz, 1e-4) << offHz << " Hz off";
    double rest = 0;
    for (size_t i = first; i < last; ++i) {
      const double phase = 2 * kPi * kFreqHz * double(i) / rate;
      const double r = heard[i] - whole.real() * std::sin(phase) - whole.imag() * std::cos(phase);
      rest += r * r;
    }
    EXPECT_LT(dbfs(std::sqrt(rest / double(last - first))), -100.0);
  }
}

// Reads at any frame, in any order, of any length (before the start, across
// the blocks the converter works in, past the end) give the frames that
// reading straight through gives; so does a note that starts into the file.
TEST_F(ResampleTest, RandomAccessReadsWhatSequentialReadsRead) {
  uint64_t state = 1;
  const std::string path = writeInput("noise48.wav", 48000, 2, 62400, [&](int, int) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return float(int32_t(state >> 32)) * (0.5f / 2147483648.0f);
  });
  auto straight = resampledSoundInput(openSoundInput(path), 44100);
  ASSERT_EQ(straight->frames(), 57330);  // 62400 frames at 147/160
  ASSERT_EQ(straight->sampleRate(), 44100.0);
  const int64_t frames = straight->frames();
  std::vector<float> whole(size_t(frames + 1000) * 2);
  for (int64_t f = 0; f < frames + 1000; f += 512)
    straight->read(f, int(std::min<int64_t>(512, frames + 1000 - f)), whole.data() + f * 2);
  EXPECT_TRUE(std::all_of(whole.begin() + frames * 2, whole.end(), [](float x) { return x == 0.0f; }));

  auto later = resampledSoundInput(openSoundInput(path), 44100);  // starts in the middle
  const struct {
    int64_t start;
    int count;
  } reads[] = {{30000, 700}, {-100, 300}, {frames - 50, 200}, {4115, 3}, {4116 * 3 - 1, 4118}, {0, 1}, {57000, 330}};
  for (const auto& r : reads) {
    SCOPED_TRACE("frames " + std::to_string(r.start) + " + " + std::to_string(r.count));
    std::vector<float> got(size_t(r.count) * 2);
    later->read(r.start, r.count, got.data());
    for (int i = 0; i < r.count; ++i) {
      const int64_t f = r.start + i;
      for (int c = 0; c < 2; ++c) {
        const float expected = f < 0 ? 0.0f : whole[size_t(f * 2 + c)];
        ASSERT_EQ(got[size_t(i * 2 + c)], expected) << "frame " << f << " channel " << c;
      }
    }
  }
  std::vector<float> one(2);
  for (int64_t f = 20000; f > 19000; f -= 7) {  // backwards, a frame at a time
    later->read(f, 1, one.data());
    ASSERT_EQ(one[1], whole[size_t(f * 2 + 1)]) << "frame " << f;
  }

  // A note with an input skip reads, through its own cursor, the frames a
  // note from the start reads that far in.
  auto engine = makeEngine();
  engine->load("PAN");
  engine->setInput(path);
  ASSERT_TRUE(engine->playNote("PAN", {0, 0, 1.25, 1, 0, 0, 1}));    // channel 0 of the file to output 0
  ASSERT_TRUE(engine->playNote("PAN", {0, 0.5, 0.75, 1, 1, 0, 0}));  // channel 1, from 0.5 s, to output 1
  const std::vector<float> out = engine->renderToMemory();
  for (int64_t f = 0; f < int64_t(0.75 * 44100); ++f) {
    ASSERT_EQ(out[size_t(f * 2)], whole[size_t(f * 2)]) << "frame " << f;
    ASSERT_EQ(out[size_t(f * 2 + 1)], whole[size_t((f + 22050) * 2 + 1)]) << "frame " << f;
  }
}

// resample=off refuses an input at another rate in the words it always had;
// an input at the render's rate is read as it is, with nothing said; a
// render whose rate changes after rtinput hears the input at its new rate.
TEST_F(ResampleTest, OffRefusesAsBeforeAndTheRendersRateNeedsNoResampler) {
  const std::string at48 = writeInput("at48.wav", 48000, 1, 4800, [](int, int) { return 0.25f; });
  auto off = makeEngine();
  off->setOption("resample=off");
  try {
    off->setInput(at48);
    FAIL() << "accepted";
  } catch (const ScoreError& error) {
    EXPECT_EQ(std::string(error.what()), "rtinput: \"" + at48 + "\" runs at 48000 Hz but the render runs at 44100 Hz");
  }

  const std::string at441 = writeInput("at441.wav", 44100, 1, 44100, [](int f, int) {
    return float(std::sin(0.01 * f + 0.3 * std::sin(0.001 * f)));  // no two frames alike
  });
  auto same = makeEngine();
  same->load("PAN");
  same->setInput(at441);
  EXPECT_TRUE(same->messages().empty());
  ASSERT_TRUE(same->playNote("PAN", {0, 0, 1, 1, 0, 0, 1}));
  const std::vector<float> heard = channelOf(same->renderToMemory(), 2, 0);
  std::vector<float> file(44100);
  openSoundInput(at441)->read(0, 44100, file.data());
  EXPECT_TRUE(heard == file);

  auto moved = makeEngine();
  moved->load("PAN");
  moved->setInput(at441);
  moved->setOption("sr=48000");
  ASSERT_EQ(moved->messages().size(), 1u);
  EXPECT_EQ(moved->messages()[0].text, at441 + ": 44100 Hz resampled to 48000 Hz");
  EXPECT_TRUE(moved->playNote("PAN", {0, 0, 0.5, 1, 0, 0, 1}));
}

// The program mixes files at 48 and 44.1 kHz in one score: each resampled
// file is named once on standard error however often the score opens it,
// and the closing report names them.
TEST_F(ResampleTest, ProgramMixesRatesAndSaysSoOncePerFile) {
  const auto tone = [](double rate) {
    return [rate](int f, int) { return float(0.25 * std::sin(2 * kPi * 440 * f / rate)); };
  };
  writeInput("a48.wav", 48000, 1, 48000, tone(48000));
  writeInput("b441.wav", 44100, 1, 44100, tone(44100));
  writeInput("c22.wav", 22050, 2, 22050, tone(22050));
  // a48.wav is opened, dropped unheard and opened again before its notes.
  programrun::writeFile(folder / "score.lua",
                        "load('PAN')\n"
                        "rtinput('a48.wav') rtinput('b441.wav')\n"
                        "rtinput('a48.wav') PAN(0, 0, 1, 1, 0, 0, 0.5)\n"
                        "rtinput('b441.wav') PAN(0.5, 0, 1, 1, 0, 0, 0.5)\n"
                        "rtinput('c22.wav') PAN(1, 0, 1, 1, 1, 0, 0.5)\n"
                        "rtinput('a48.wav') PAN(1.5, 0, 0.5, 1, 0, 0, 0.5)\n");
  programrun::Process::Options options;
  options.args = {VEMORA_BIN_DIR "/vemora", "score.lua"};
  options.folder = folder;
  options.logs = folder / "log";
  const programrun::Outcome outcome = programrun::run(options, 60);
  programrun::expectNoCrashOrHang(outcome);
  EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
  EXPECT_EQ(outcome.err,
            "score.lua:2: rtinput: a48.wav: 48000 Hz resampled to 44100 Hz\n"
            "score.lua:5: rtinput: c22.wav: 22050 Hz resampled to 44100 Hz\n");
  EXPECT_TRUE(
      programrun::contains(outcome.out, "  inputs:  2 resampled to 44100 Hz: a48.wav (48000 Hz), c22.wav (22050 Hz)\n"))
      << outcome.out;
  EXPECT_TRUE(programrun::contains(outcome.out, "  audio:   2.000 s, 2 channels, 44100 Hz\n")) << outcome.out;
}
