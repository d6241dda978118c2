// vemora --play through a real (timed, hardware-free) device: a JACK server
// with the dummy back end under ALSA's default device, as
// tests/support/LiveDevice.h sets it up. The real program runs through the
// real device path; what the device got is read back from the raw file the
// ALSA file PCM writes.
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <iostream>
#include <regex>

#include "support/LiveDevice.h"
#include "support/ProgramRun.h"
#include "support/SocketRecords.h"

namespace {

using programrun::contains;
using programrun::Outcome;
using programrun::Process;
namespace fs = std::filesystem;

const std::string kVemora = VEMORA_BIN_DIR "/vemora";

// PAN over a 440 Hz sine: fast (hundreds of times real time).
std::string panScore(double seconds) {
  return "rtinput('sine.wav')\nload('PAN')\ngen(2, 7, 1000, 1, 1000, 0)\nPAN(0, 0, " + std::to_string(seconds) +
         ", 0.9, 0, 0)\n";
}

struct Sound {
  int channels = 0;
  int rate = 0;
  std::vector<float> samples;  // interleaved
  bool opened = false;
};

Sound readSound(const fs::path& path) {
  Sound sound;
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file) return sound;
  sound.opened = true;
  sound.channels = info.channels;
  sound.rate = info.samplerate;
  sound.samples.resize(size_t(info.frames) * size_t(info.channels));
  sf_readf_float(file, sound.samples.data(), info.frames);
  sf_close(file);
  return sound;
}

// How the frames of `part` reached the device: in order and exact,
// allowing silence before and after and runs of silent frames between them
// (the gaps a busy machine makes between the callback and the device, ALSA
// restarting a device that ran dry, which the engine neither makes nor
// sees). `frames` is how many of part's frames were heard before the device
// stopped; gaps is -1 when the samples differ.
struct Heard {
  long gaps = -1;
  size_t frames = 0;
};

Heard heardOf(const std::vector<float>& heard, const std::vector<float>& part, size_t channels) {
  auto frameIs = [&](const std::vector<float>& v, size_t f, auto test) {
    for (size_t c = 0; c < channels; ++c)
      if (!test(v[f * channels + c], c)) return false;
    return true;
  };
  auto zero = [&](const std::vector<float>& v, size_t f) {
    return frameIs(v, f, [](float x, size_t) { return x == 0.0f; });
  };
  const size_t heardFrames = heard.size() / channels, partFrames = part.size() / channels;
  size_t firstHeard = 0, firstPart = 0;
  while (firstHeard < heardFrames && zero(heard, firstHeard)) ++firstHeard;
  while (firstPart < partFrames && zero(part, firstPart)) ++firstPart;
  if (firstHeard == heardFrames || firstPart == partFrames || firstHeard < firstPart) return {};
  size_t i = firstHeard - firstPart, j = 0;
  long gaps = 0;
  while (j < partFrames && i < heardFrames) {
    if (frameIs(heard, i, [&](float x, size_t c) { return x == part[j * channels + c]; })) {
      ++i;
      ++j;
    } else if (zero(heard, i)) {
      ++gaps;
      while (i < heardFrames && zero(heard, i) && !zero(part, j)) ++i;
    } else {
      return {};
    }
  }
  for (; i < heardFrames; ++i)
    if (!zero(heard, i)) return {};
  return {gaps, j};
}

// The number of gaps with which all of `part` reached the device, or -1.
long gapsIn(const std::vector<float>& heard, const std::vector<float>& part, size_t channels) {
  const Heard result = heardOf(heard, part, channels);
  return result.frames == part.size() / channels ? result.gaps : -1;
}

bool silent(std::vector<float>::const_iterator from, std::vector<float>::const_iterator to) {
  return std::all_of(from, to, [](float v) { return v == 0.0f; });
}

long long reported(const std::string& out, const std::string& field) {
  std::smatch match;
  if (!std::regex_search(out, match, std::regex(field + ": *([0-9]+)"))) return -1;
  return std::stoll(match[1]);
}

class LiveAudioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(livedevice::kJackd)) << "jackd2 is not installed (scripts/setup.sh installs it)";
    folder = fs::temp_directory_path() / ("vemora-live-" + std::to_string(getpid()) + "-" +
                                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    programrun::removeFolder(folder);
    fs::create_directories(folder);
    programrun::writeSine(folder / "sine.wav", 1, 44100, 44100 * 4);
  }
  void TearDown() override {
    if (!HasFailure()) programrun::removeFolder(folder);
  }

  Process::Options vemora(const std::vector<std::string>& args, const std::vector<std::string>& environment,
                          const std::string& logs = "vemora") {
    Process::Options options;
    options.args = {kVemora};
    options.args.insert(options.args.end(), args.begin(), args.end());
    options.folder = folder;
    options.logs = folder / logs;
    options.environment = environment;
    return options;
  }

  Outcome play(const livedevice::Device& device, const std::vector<std::string>& args, double seconds = 60) {
    const Outcome outcome = programrun::run(vemora(args, device.environment()), seconds);
    programrun::expectNoCrashOrHang(outcome);
    return outcome;
  }

  fs::path folder;
};

TEST_F(LiveAudioTest, PlayDeliversExactlyTheSamplesOfTheFileRender) {
  programrun::writeFile(folder / "score.lua", panScore(1.0));
  livedevice::Device device(folder);
  ASSERT_TRUE(device.running()) << device.failure();

  const Outcome rendered = programrun::run(vemora({"-q", "-o", "file.wav", "score.lua"}, {}, "render"), 60);
  ASSERT_EQ(rendered.exitStatus, 0) << rendered.err;
  const Outcome played = play(device, {"--play", "--buffer", "256", "-o", "played.wav", "score.lua"});
  ASSERT_EQ(played.exitStatus, 0) << played.err;

  // The file written while playing is the file render, byte for byte.
  EXPECT_EQ(programrun::readFile(folder / "played.wav"), programrun::readFile(folder / "file.wav"));
  // The device got the same samples (float, as the engine made them), with
  // silence before and after only.
  const Sound file = readSound(folder / "file.wav");
  ASSERT_TRUE(file.opened);
  // (A busy machine may make the device itself skip a moment: said, and
  // allowed; on a quiet one there is none.)
  const std::vector<float> heard = device.played();
  const long gaps = gapsIn(heard, file.samples, 2);
  ASSERT_GE(gaps, 0) << "the device did not get the render's samples (" << heard.size() << " samples played)";
  if (gaps > 0) std::cout << "the device skipped " << gaps << " moments (the machine was busy)\n";

  EXPECT_TRUE(contains(played.out, "wrote played.wav")) << played.out;
  EXPECT_TRUE(contains(played.out, "device:  \"default\" (ALSA), buffer 256 frames, latency")) << played.out;
  EXPECT_EQ(reported(played.out, "underruns"), 0) << played.out;
}

TEST_F(LiveAudioTest, PlayWithoutAnOutputNameWritesNoFile) {
  programrun::writeFile(folder / "score.lua", panScore(0.5));
  livedevice::Device device(folder);
  ASSERT_TRUE(device.running()) << device.failure();
  const Outcome played = play(device, {"--play", "score.lua"});
  ASSERT_EQ(played.exitStatus, 0) << played.err;
  EXPECT_TRUE(contains(played.out, "played score.lua")) << played.out;
  EXPECT_FALSE(fs::exists(folder / "score.wav"));
  EXPECT_TRUE(programrun::temporariesUnder(folder).empty());
  const std::vector<float> heard = device.played();
  EXPECT_FALSE(silent(heard.begin(), heard.end()));
  // The score's rtoutput is written, as in a render.
  programrun::writeFile(folder / "named.lua", "rtoutput('named.wav', '16')\n" + panScore(0.5));
  const Outcome named = play(device, {"--play", "named.lua"});
  ASSERT_EQ(named.exitStatus, 0) << named.err;
  EXPECT_TRUE(contains(named.out, "wrote ")) << named.out;
  const Sound file = readSound(folder / "named.wav");
  ASSERT_TRUE(file.opened);
  EXPECT_EQ(file.samples.size(), size_t(44100 / 2) * 2);
  // 16 bits, dithered as a render's file is: the same bytes.
  const Outcome rendered = programrun::run(vemora({"-q", "-o", "rendered.wav", "named.lua"}, {}, "render"), 60);
  ASSERT_EQ(rendered.exitStatus, 0) << rendered.err;
  EXPECT_EQ(programrun::readFile(folder / "named.wav"), programrun::readFile(folder / "rendered.wav"));
}

// W1 of the benchmarks (the oscillator bank), 3 s of it with 16 of its 64
// voices, so that it renders at 5x real time or more even in the sanitizer
// build: it plays at a 256-frame buffer with no underrun.
TEST_F(LiveAudioTest, AFastScorePlaysWithNoUnderrunAt256Frames) {
  programrun::writeFile(folder / "w1.lua",
                        "load('SCULPT')\nlocal voices, steps = 16, 6\ngen(1, 2, 1, 1)\ngen(2, 10, 1024, 1)\n"
                        "local levels = {}\nfor j = 1, steps do levels[j] = -60 end\n"
                        "gen(4, 2, steps, table.unpack(levels))\n"
                        "for i = 0, voices - 1 do\n  local freqs = {}\n"
                        "  for j = 0, steps - 1 do freqs[j + 1] = 100 * 2 ^ (((5 * i + 7 * j) % 48) / 12) end\n"
                        "  gen(3, 2, steps, table.unpack(freqs))\n"
                        "  SCULPT(0, 0.5, 1 / voices, steps, i / (voices - 1))\nend\n");
  const Outcome rendered = programrun::run(vemora({"-o", "file.wav", "w1.lua"}, {}, "render"), 60);
  ASSERT_EQ(rendered.exitStatus, 0) << rendered.err;
  std::smatch speed;
  ASSERT_TRUE(std::regex_search(rendered.out, speed, std::regex("speed: +([0-9.]+)x"))) << rendered.out;
  EXPECT_GE(std::stod(speed[1]), 5.0) << "the score is meant to render at 5x real time or more\n" << rendered.out;

  livedevice::Device device(folder);
  ASSERT_TRUE(device.running()) << device.failure();
  const Outcome played = play(device, {"--play", "--buffer", "256", "w1.lua"});
  ASSERT_EQ(played.exitStatus, 0) << played.err;
  EXPECT_EQ(reported(played.out, "underruns"), 0) << played.out << played.err;
  EXPECT_FALSE(contains(played.err, "underrun")) << played.err;
  EXPECT_GE(gapsIn(device.played(), readSound(folder / "file.wav").samples, 2), 0);
}

// An instrument at half real time cannot keep the device fed: the
// underruns are said as they happen (rate-limited) and counted in the report.
TEST_F(LiveAudioTest, ASlowInstrumentsUnderrunsAreCountedAndReported) {
  programrun::writeFile(folder / "slow.lua", "load('SLOWPROBE')\nSLOWPROBE(0, 1.5, 2)\n");
  livedevice::Device device(folder);
  ASSERT_TRUE(device.running()) << device.failure();
  const Outcome played = play(
      device, {"--plugin-path", VEMORA_TEST_PLUGIN_DIR, "--play", "--buffer", "256", "-o", "slow.wav", "slow.lua"});
  ASSERT_EQ(played.exitStatus, 0) << played.err;
  const long long underruns = reported(played.out, "underruns");
  EXPECT_GT(underruns, 0) << played.out;
  // One line at most each second (3 s of playing), and the count at the end.
  const size_t lines = programrun::countOf(played.err, "vemora: underrun at ");
  EXPECT_GE(lines, 1u) << played.err;
  EXPECT_LE(lines, 5u) << played.err;
  EXPECT_TRUE(contains(played.err, " underruns: the render fell behind the device")) << played.err;
  // The file still holds every frame, whatever the device missed.
  const Sound file = readSound(folder / "slow.wav");
  ASSERT_TRUE(file.opened);
  EXPECT_EQ(file.samples.size(), size_t(44100 * 3 / 2) * 2);
}

TEST_F(LiveAudioTest, PlayWithNoDeviceSaysSoAndExitsWithOne) {
  programrun::writeFile(folder / "score.lua", panScore(0.5));
  // ALSA's default is a jack PCM and no JACK server of that name runs.
  programrun::writeFile(folder / "nodevice.conf",
                        "pcm.!default {\n  type jack\n  playback_ports { 0 system:playback_1 }\n}\n");
  const std::vector<std::string> environment = {
      "ALSA_CONFIG_PATH=/usr/share/alsa/alsa.conf:" + (folder / "nodevice.conf").string(),
      "JACK_DEFAULT_SERVER=vemora-test-none-" + std::to_string(getpid()), "JACK_NO_START_SERVER=1",
      livedevice::sanitizerEnvironment()[0]};
  const Outcome outcome = programrun::run(vemora({"--play", "-o", "out.wav", "score.lua"}, environment), 60);
  programrun::expectNoCrashOrHang(outcome);
  EXPECT_EQ(outcome.exitStatus, 1);
  EXPECT_TRUE(contains(outcome.err, "vemora: there is no default output device") ||
              contains(outcome.err, "vemora: cannot open the output device"))
      << outcome.err;
  EXPECT_FALSE(fs::exists(folder / "out.wav"));
  EXPECT_TRUE(programrun::temporariesUnder(folder).empty());
  // A device named that is not there is refused, naming the ones there are.
  const Outcome named = programrun::run(vemora({"--play", "--device", "nosuch", "score.lua"}, environment), 60);
  EXPECT_EQ(named.exitStatus, 1);
  EXPECT_TRUE(contains(named.err, "vemora: no output device is named \"nosuch\"")) << named.err;
  // A session to be heard is not served at all without a device.
  const Outcome session = programrun::run(
      vemora({"-i", "-n", "-s", std::to_string(20000 + int(getpid() % 20000)), "--play"}, environment, "session"), 60);
  programrun::expectNoCrashOrHang(session);
  EXPECT_EQ(session.exitStatus, 1);
  EXPECT_TRUE(contains(session.err, "vemora: there is no default output device") ||
              contains(session.err, "vemora: cannot open the output device"))
      << session.err;
  EXPECT_FALSE(contains(session.out, "serving score records")) << session.out;
}

TEST_F(LiveAudioTest, SigintDuringPlaybackKeepsWhatWasPlayedInAValidFile) {
  programrun::writeFile(folder / "score.lua", panScore(4.0));
  livedevice::Device device(folder);
  ASSERT_TRUE(device.running()) << device.failure();
  const Outcome rendered = programrun::run(vemora({"-q", "-o", "file.wav", "score.lua"}, {}, "render"), 60);
  ASSERT_EQ(rendered.exitStatus, 0) << rendered.err;

  Process player(vemora({"--play", "-o", "played.wav", "score.lua"}, device.environment()));
  // Playing for a second, by what the device has got.
  ASSERT_TRUE(programrun::waitFor(20, [&] { return device.played().size() > 2 * 44100 * 1; }));
  player.signal(SIGINT);
  const Outcome outcome = player.wait(20);
  programrun::expectNoCrashOrHang(outcome);
  EXPECT_EQ(outcome.exitStatus, 128 + SIGINT) << outcome.err;
  EXPECT_TRUE(contains(outcome.err, "vemora: interrupted by SIGINT; playback stopped after ")) << outcome.err;
  EXPECT_TRUE(contains(outcome.err, "played.wav holds what was played")) << outcome.err;

  const Sound played = readSound(folder / "played.wav");
  const Sound file = readSound(folder / "file.wav");
  ASSERT_TRUE(played.opened) << "not a readable sound file";
  ASSERT_TRUE(file.opened);
  EXPECT_EQ(played.channels, 2);
  // Cut short, and the beginning of the render exactly.
  ASSERT_GT(played.samples.size(), size_t(2 * 44100 / 2));
  ASSERT_LT(played.samples.size(), file.samples.size());
  EXPECT_TRUE(std::equal(played.samples.begin(), played.samples.end(), file.samples.begin()));
  // What the file holds is what reached the device, give or take what the
  // device's own buffers held when the stop came (frames the stop dropped,
  // or the last callback's frames that had not reached it), and the gaps a
  // busy machine makes between the callback and the device.
  const Heard heard = heardOf(device.played(), file.samples, 2);
  ASSERT_GE(heard.gaps, 0) << "the device did not get the render's samples";
  if (heard.gaps > 0) std::cout << "the device skipped " << heard.gaps << " moments (the machine was busy)\n";
  EXPECT_LE(std::labs(long(heard.frames) - long(played.samples.size() / 2)), 4096L)
      << heard.frames << " frames reached the device, the file holds " << played.samples.size() / 2;
  EXPECT_TRUE(programrun::temporariesUnder(folder).empty());
}

// The signal the device's capture gives: two channels that no shift in
// time maps onto themselves (rising and falling envelopes), so the frame at
// which capture started can be found.
std::vector<float> capturedSignal(int frames) {
  std::vector<float> samples(size_t(frames) * 2);
  for (int f = 0; f < frames; ++f) {
    const double t = double(f) / 44100, share = double(f) / frames;
    samples[2 * size_t(f)] = float(0.5 * (0.2 + 0.8 * share) * std::sin(2 * std::numbers::pi * 300 * t));
    samples[2 * size_t(f) + 1] = float(0.3 * (1.0 - 0.5 * share) * std::sin(2 * std::numbers::pi * 450 * t));
  }
  return samples;
}

// The frame of the captured signal at which what was played begins: the
// first lag under a second at which frames [from, to) of the left channel
// are the signal's, or 44100 when there is none.
size_t captureLag(const std::vector<float>& played, const std::vector<float>& signal, size_t from, size_t to) {
  auto alignedAt = [&](size_t lag) {
    for (size_t f = from; f < to; ++f)
      if (played[2 * f] != signal[2 * (f + lag)]) return false;
    return true;
  };
  size_t lag = 0;
  while (lag < 44100 && !alignedAt(lag)) ++lag;
  return lag;
}

void writeFloatWav(const fs::path& path, const std::vector<float>& interleaved, int channels) {
  vemora::SoundFileWriter writer(path.string(), vemora::outputFormatFor(path.string(), "float"), channels, 44100);
  writer.write(interleaved.data(), int(interleaved.size() / size_t(channels)));
  writer.commit();
}

// Notes that read the input device hear what came in as they render:
// output frame f reads input frame f, less the note's input skip. A file
// render of the same signal, each note's skip set to read the same frames
// (a note at s with skip k on the device reads what a note at s with skip
// s - k reads from the file), makes the same samples.
TEST_F(LiveAudioTest, NotesReadTheInputDeviceAsTheyReadTheSameSignalFromAFile) {
  const std::vector<float> signal = capturedSignal(44100 * 8);
  livedevice::writeCapture(folder / "capture.raw", signal);
  livedevice::Device device(folder, 256, 44100, (folder / "capture.raw").string());
  ASSERT_TRUE(device.running()) << device.failure();
  // Until 0.5 s the left channel is input channel 0 alone: the lag is
  // found there. A glide from an unaligned start, on the right alone, and
  // one at 0.5 s down an octave (it never reads ahead of its frames).
  const std::string notes =
      "load('PAN')\nload('SHIFTGLIDE')\ngen(2, 7, 1000, 0, 1000, -1)\n"
      "PAN(0, 0, 2, 1, 0, 0, 1)\n"
      "PAN(1, $PAN, 1, 0.5, 1, 0, 0)\n"
      "SHIFTGLIDE(0.013, $EARLY, 1.2, 0.4, 2, 0, 0)\n"
      "SHIFTGLIDE(0.5, $LATE, 1.5, 0.7, 2, 1, 0.3)\n";
  auto score = [&](const std::string& input, const std::string& pan, const std::string& early,
                   const std::string& late) {
    std::string text = "rtinput('" + input + "')\n" + notes;
    text = std::regex_replace(text, std::regex("\\$PAN"), pan);
    text = std::regex_replace(text, std::regex("\\$EARLY"), early);
    return std::regex_replace(text, std::regex("\\$LATE"), late);
  };
  programrun::writeFile(folder / "live.lua", score("device", "0.25", "0.01", "0"));
  // An underflow that the audio library flags between its callback and the
  // device (a busy machine stalling the JACK server) restarts the device,
  // and the restarted capture no longer keeps step with the output: the
  // engine neither makes nor can mend that, so such a run is played again.
  Outcome played;
  bool clean = false;
  for (int attempt = 0; attempt < 6 && !clean; ++attempt) {
    played = play(device, {"--play", "--sample-format", "float", "-o", "played.wav", "live.lua"});
    ASSERT_EQ(played.exitStatus, 0) << played.err;
    clean = reported(played.out, "device underflows") <= 0;
    if (!clean) std::cout << "the device underflowed; played again\n";
  }
  if (!clean) GTEST_SKIP() << "the device underflowed in every take: this machine is too busy to compare";
  EXPECT_TRUE(contains(played.out, "input:   \"default\" (ALSA), 2 channels (as the output), latency ")) << played.out;
  EXPECT_EQ(reported(played.out, "overruns"), 0) << played.out;
  const Sound live = readSound(folder / "played.wav");
  ASSERT_TRUE(live.opened);
  ASSERT_EQ(live.samples.size(), size_t(2 * 44100 * 2)) << "the file holds the rendered frames alone";

  // The input's frame 0 is the first the stream captured; the file PCM may
  // have read some of its file before the stream started. On this device
  // the lag is 0; it is searched for rather than assumed, and must be small.
  const size_t lag = captureLag(live.samples, signal, 1000, 3000);
  ASSERT_LT(lag, 4096u) << "the captured signal is not in what the notes played";
  std::cout << "the stream's first input frame was frame " << lag << " of the capture file\n";

  // The device delivers FLOAT_LE through the plug PCM unconverted, so the
  // samples must be the same, not merely close.
  writeFloatWav(folder / "signal.wav", std::vector<float>(signal.begin() + long(2 * lag), signal.end()), 2);
  programrun::writeFile(folder / "file.lua", score("signal.wav", "0.75", "0.003", "0.5"));
  const Outcome rendered =
      programrun::run(vemora({"-q", "--sample-format", "float", "-o", "file.wav", "file.lua"}, {}, "render"), 60);
  ASSERT_EQ(rendered.exitStatus, 0) << rendered.err;
  const Sound file = readSound(folder / "file.wav");
  ASSERT_EQ(file.samples.size(), live.samples.size());
  size_t differ = 0;
  for (size_t i = 0; i < file.samples.size(); ++i) differ += file.samples[i] != live.samples[i];
  EXPECT_EQ(differ, 0u) << "of " << file.samples.size() << " samples (lag " << lag << ")";
  // What reached the device is the same, after the lead-in's silence.
  EXPECT_GE(gapsIn(device.played(), file.samples, 2), 0);
}

// An input named "device" is the sound card's only when played; a file of
// that name is still reachable.
TEST_F(LiveAudioTest, TheInputDeviceWithoutPlayIsAnErrorAtItsLine) {
  programrun::writeFile(folder / "live.lua", "load('PAN')\nrtinput('device')\nPAN(0, 0, 0.5, 1, 0, 0, 1)\n");
  const Outcome refused = programrun::run(vemora({"-o", "out.wav", "live.lua"}, {}), 60);
  programrun::expectNoCrashOrHang(refused);
  EXPECT_EQ(refused.exitStatus, 1);
  EXPECT_TRUE(contains(refused.err,
                       "vemora: live.lua:2: rtinput: \"device\" is the input device, heard only while the score plays "
                       "(vemora --play)"))
      << refused.err;
  EXPECT_FALSE(fs::exists(folder / "out.wav"));
  EXPECT_TRUE(programrun::temporariesUnder(folder).empty());

  fs::copy_file(folder / "sine.wav", folder / "device");
  programrun::writeFile(folder / "file.lua", "load('PAN')\nrtinput('./device')\nPAN(0, 0, 0.5, 1, 0, 0, 1)\n");
  const Outcome file = programrun::run(vemora({"-q", "-o", "out.wav", "file.lua"}, {}), 60);
  EXPECT_EQ(file.exitStatus, 0) << file.err;
  EXPECT_TRUE(fs::exists(folder / "out.wav"));
}

// A render at half real time falls behind the input as it does behind the
// output: what the input ring cannot hold is lost (read as silence in its
// place) and counted.
TEST_F(LiveAudioTest, InputLostWhileTheRenderIsBehindIsCountedAsOverruns) {
  programrun::writeFile(folder / "slow.lua",
                        "load('SLOWPROBE')\nload('PAN')\nrtinput('device')\nSLOWPROBE(0, 1.5, 2)\n"
                        "PAN(0, 0, 1.5, 1, 0, 0, 1)\n");
  livedevice::Device device(folder);
  ASSERT_TRUE(device.running()) << device.failure();
  const Outcome played = play(
      device, {"--plugin-path", VEMORA_TEST_PLUGIN_DIR, "--play", "--buffer", "256", "-o", "slow.wav", "slow.lua"});
  ASSERT_EQ(played.exitStatus, 0) << played.err;
  // 1.5 s rendered in 3 s: the input ring (half a second) overflows for
  // most of a second.
  EXPECT_GT(reported(played.out, "overruns"), 44100 / 4) << played.out;
  EXPECT_GT(reported(played.out, "underruns"), 0) << played.out;
  EXPECT_TRUE(contains(played.err, " input frames lost: the render fell behind the input device")) << played.err;
  const Sound file = readSound(folder / "slow.wav");
  ASSERT_TRUE(file.opened);
  EXPECT_EQ(file.samples.size(), size_t(44100 * 3 / 2) * 2);
}

TEST_F(LiveAudioTest, ListDevicesShowsTheDefaultAndTheJackServer) {
  livedevice::Device device(folder);
  ASSERT_TRUE(device.running()) << device.failure();
  const Outcome listed = play(device, {"--list-devices"});
  EXPECT_EQ(listed.exitStatus, 0) << listed.err;
  EXPECT_TRUE(std::regex_search(listed.out,
                                std::regex(R"(\n +[0-9]+  default +ALSA +out +[0-9]+ +in +[0-9]+ .*default output)")))
      << listed.out;
  EXPECT_TRUE(contains(listed.out, "JACK Audio Connection Kit")) << listed.out;
  EXPECT_EQ(listed.err, "");
}

// Socket mode heard: notes sent over TCP reach the device at most a block
// and the device's buffer after their records arrive. Counted in frames
// through the device: the frames the device had got when the record was
// sent, and the frame at which the note's first sample reached it.
class LiveSessionTest : public LiveAudioTest, public ::testing::WithParamInterface<int> {};

std::string textRecord(const char* name, const std::vector<std::string>& values) {
  sockdata record = programrun::blankRecord(name, int(values.size()));
  for (size_t i = 0; i < values.size(); ++i)
    std::strncpy(record.data.text[i], values[i].c_str(), SCOREWIRE_TEXT_BYTES - 1);
  return programrun::bytesOf(record);
}

std::string numberRecord(const char* name, const std::vector<double>& values) {
  sockdata record = programrun::blankRecord(name, int(values.size()));
  std::copy(values.begin(), values.end(), record.data.p);
  return programrun::bytesOf(record);
}

TEST_P(LiveSessionTest, NotesSentOverTcpReachTheDeviceWithinABlockAndTheBuffer) {
  const int buffer = GetParam();
  constexpr int kBlock = 512;  // the engine's default block
  // The JACK server keeps its period of 256 frames (PortAudio finds no ALSA
  // device over a JACK server of 128); the buffer is the ALSA device's.
  livedevice::Device device(folder);
  ASSERT_TRUE(device.running()) << device.failure();
  // A socket number of this process's own: tests of other programs may
  // serve at the same time.
  const int socketNumber = 20000 + int(getpid() % 20000);
  Process server(vemora({"-i", "-n", "-s", std::to_string(socketNumber), "--play", "--buffer", std::to_string(buffer),
                         "--output", "session.wav"},
                        device.environment(), "server"));
  ASSERT_TRUE(programrun::waitFor(60, [&] {
    return contains(server.out(), "serving score records") || server.exited();
  })) << server.err();
  ASSERT_FALSE(server.exited()) << server.err();
  programrun::LoopbackClients clients(SCOREWIRE_BASE_PORT + socketNumber);
  const int fd = clients.connect();
  ASSERT_GE(fd, 0);
  // The first note opens the device; the ones after it are timed.
  ASSERT_TRUE(clients.send(fd, textRecord("load", {"argprobe"}) + numberRecord("argprobe", {0, 0.2, 0.125, 0.125})));
  ASSERT_TRUE(programrun::waitFor(30, [&] { return device.played().size() > size_t(2 * 44100 / 2); }));

  constexpr int kNotes = 6;
  std::vector<size_t> sentAt;  // frames the device had got when the record went
  for (int k = 0; k < kNotes; ++k) {
    sentAt.push_back(fs::file_size(folder / "played.raw") / (2 * sizeof(float)));
    ASSERT_TRUE(clients.send(fd, numberRecord("argprobe", {0, 0.05, 0.25 + 0.0625 * k, 0.0})));
    programrun::sleepSeconds(0.15);
  }
  programrun::sleepSeconds(0.2);
  server.signal(SIGTERM);
  const Outcome ended = server.wait(60);
  programrun::expectNoCrashOrHang(ended);
  ASSERT_EQ(ended.exitStatus, 0) << ended.err;
  EXPECT_TRUE(contains(ended.out, "vemora: played on \"default\" (ALSA), buffer " + std::to_string(buffer) + " frames"))
      << ended.out;
  // The render runs only a block and the device's buffer ahead of the
  // device, so a busy machine (the sanitizer build with other tests beside
  // it) may leave the device short now and then: said, counted, and then
  // the device's stream has gaps that the checks on it below allow for.
  std::smatch underrunText;
  ASSERT_TRUE(std::regex_search(ended.out, underrunText, std::regex("; ([0-9]+) underruns;"))) << ended.out;
  const int underruns = std::stoi(underrunText[1]);
  // The engine's own measure: how far ahead of the device the render was
  // when each record arrived, at most a block and the device's buffer.
  std::smatch measured;
  ASSERT_TRUE(std::regex_search(ended.out, measured,
                                std::regex("left the engine at most ([0-9.]+) ms after the record arrived "
                                           "\\(([0-9]+) records; the bound: ([0-9.]+) ms")))
      << ended.out;
  const double engineMs = std::stod(measured[1]), boundMs = std::stod(measured[3]);
  EXPECT_GE(std::stoi(measured[2]), kNotes);
  EXPECT_LE(engineMs, boundMs) << ended.out;
  // The device's buffer as asked, or as ALSA holds it (two periods).
  EXPECT_LE(boundMs, 1000.0 * (kBlock + 2 * buffer) / 44100 + 0.05) << ended.out;

  const std::vector<float> heard = device.played();
  // The session's file holds what the device played (the device's gaps
  // aside, when there were underruns).
  const Sound file = readSound(folder / "session.wav");
  ASSERT_TRUE(file.opened);
  const long gaps = gapsIn(heard, file.samples, 2);
  if (underruns == 0) {
    EXPECT_GE(gaps, 0);
  }
  long worst = 0;
  for (int k = 0; k < kNotes; ++k) {
    const float value = 0.25f + 0.0625f * float(k);
    size_t first = 0;
    while (2 * first < heard.size() && heard[2 * first] != value) ++first;
    ASSERT_LT(2 * first, heard.size()) << "note " << k << " never reached the device";
    const long delay = long(first) - long(sentAt[size_t(k)]);
    worst = std::max(worst, delay);
    // Seen from the device's far side, the delay adds what the device
    // holds itself: ALSA's periods, JACK's period of 256 frames, and the
    // file PCM, which writes a period at a time.
    EXPECT_GE(delay, 0) << "note " << k;
    if (underruns == 0 && gaps == 0) {
      EXPECT_LE(delay, kBlock + 2 * buffer + 4 * std::max(buffer, 256)) << "note " << k;
    }
  }
  std::cout << "buffer " << buffer << ": a record's note left the engine at most " << engineMs
            << " ms after it arrived; it reached the far side of the device at most " << worst << " frames ("
            << 1000.0 * double(worst) / 44100 << " ms) after the record was sent\n"
            << ended.out;
  RecordProperty("worst_delay_frames", int(worst));
  if (underruns > 0) std::cout << underruns << " underruns on this machine at this buffer\n";
}

INSTANTIATE_TEST_SUITE_P(Buffers, LiveSessionTest, ::testing::Values(128, 256, 512));

// A session heard reads the input device when a record names it before the
// first note: the device then opens full duplex, and a note hears what came
// in at the frames it renders, as in a played score.
TEST_F(LiveAudioTest, ASessionHeardReadsTheInputDeviceNamedBeforeItsFirstNote) {
  const std::vector<float> signal = capturedSignal(44100 * 8);
  livedevice::writeCapture(folder / "capture.raw", signal);
  livedevice::Device device(folder, 256, 44100, (folder / "capture.raw").string());
  ASSERT_TRUE(device.running()) << device.failure();
  // A take whose device underflowed is played again (see above).
  auto take = [&](int socketNumber) {
    Process server(vemora({"-i", "-n", "-s", std::to_string(socketNumber), "--play", "--output", "session.wav"},
                          device.environment(), "server"));
    EXPECT_TRUE(programrun::waitFor(60, [&] {
      return contains(server.out(), "serving score records") || server.exited();
    })) << server.err();
    programrun::LoopbackClients clients(SCOREWIRE_BASE_PORT + socketNumber);
    const int fd = clients.connect();
    EXPECT_GE(fd, 0);
    // The first note opens the device, at the session's frame 0.
    EXPECT_TRUE(clients.send(fd, textRecord("load", {"PAN"}) + textRecord("rtinput", {"device"}) +
                                     numberRecord("PAN", {0, 0, 1, 1, 0, 0, 1})));
    EXPECT_TRUE(programrun::waitFor(30, [&] { return device.played().size() > size_t(2 * 44100 * 3 / 2); }));
    server.signal(SIGTERM);
    const Outcome ended = server.wait(60);
    programrun::expectNoCrashOrHang(ended);
    return ended;
  };
  Outcome ended;
  bool clean = false;
  for (int attempt = 0; attempt < 6 && !clean && !HasFailure(); ++attempt) {
    ended = take(20000 + int(getpid() % 20000) + attempt);
    ASSERT_EQ(ended.exitStatus, 0) << ended.err;
    clean = !contains(ended.out, "device underflows");
    if (!clean) std::cout << "the device underflowed; played again\n";
  }
  ASSERT_FALSE(HasFailure());
  if (!clean) GTEST_SKIP() << "the device underflowed in every take: this machine is too busy to compare";
  EXPECT_TRUE(contains(ended.out,
                       "vemora: input from \"default\" (ALSA), 2 channels, lead-in 46.4 ms; 0 input "
                       "frames lost (overruns)"))
      << ended.out;
  const Sound file = readSound(folder / "session.wav");
  ASSERT_TRUE(file.opened);
  ASSERT_GE(file.samples.size(), size_t(2 * 44100));
  // Output frame f is input frame f, give or take where the capture file's
  // reading began (see above): the note is the input, frame for frame.
  const size_t lag = captureLag(file.samples, signal, 0, 44100);
  EXPECT_LT(lag, 4096u) << "the captured signal is not what the note played\n" << ended.out;
}

}  // namespace
