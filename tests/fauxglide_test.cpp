// FAUXGLIDE through the engine: the fade over each input block, the read
// position and its interpolation, the amplitude cadence kept over the whole
// note, the pitch cadence that restarts with every call, input past its end,
// the output layouts and every refusal.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/TestEngine.h"
#include "wavekit.h"

using namespace vemora;
using vemora::testing::giveInput;
using vemora::testing::lastMessage;
using vemora::testing::makeEngine;

namespace {

constexpr int kRate = 1000;
// A ramp of this slope is followed exactly by the quadratic, so the output
// of a ramp input is the read position (two frames back) times the slope.
constexpr float kSlope = 1.0f / 1024.0f;

std::unique_ptr<Engine> glideEngine(int blockFrames, int channels = 1, int controlRate = 1000) {
  EngineSettings settings;
  settings.sampleRate = kRate;
  settings.blockFrames = blockFrames;
  settings.channels = channels;
  settings.controlRate = controlRate;
  auto engine = makeEngine(settings);
  engine->load("FAUXGLIDE");
  return engine;
}

double ratioFor(double octaves) { return cpsoct(octaves + 10.0) / double(float(cpsoct(10.0))); }

// The block fade: index is the frame of the block just taken, counted from
// 1. A ramp of 0.01 a frame up from the block's start and down to its end,
// the closing ramp winning where the two overlap (blocks under 200 frames).
float blockFade(int index, int blockFrames) {
  if (index >= blockFrames - 100) return float(blockFrames - index) * 0.01f;
  if (index >= 100) return 1.0f;
  return float(index) * 0.01f;
}

// A curve of frames + 1 entries over a note of that many frames reads entry
// i on frame i.
std::vector<double> stepCurve(int frames, int stepAt, double before, double after) {
  float tabs[2];
  tableset(float(kRate), float(frames / double(kRate)), frames + 1, tabs);
  EXPECT_EQ(tabs[1], 1.0f) << "the curve must map one entry to each frame";
  std::vector<double> curve(size_t(frames) + 1, before);
  for (int i = stepAt; i <= frames; ++i) curve[size_t(i)] = after;
  return curve;
}

// Note frames on which a call reads the pitch curve: every 20 frames from
// the first frame of each call.
std::vector<bool> callCadence(const std::vector<int>& chunkSizes, int frames, int period) {
  std::vector<bool> reads(size_t(frames), false);
  int start = 0;
  for (size_t k = 0; start < frames; ++k) {
    const int n = std::min(chunkSizes[k % chunkSizes.size()], frames - start);
    for (int i = 0; i < n; i += period) reads[size_t(start + i)] = true;
    start += n;
  }
  return reads;
}

float sampleAt(const NoteCapture& note, int frame, int channel = 0) {
  return note.frames[size_t(frame) * size_t(note.outChannels) + size_t(channel)];
}

}  // namespace

// At a ratio of (nearly) 1 one input frame is taken per output frame, so the
// block index runs 1 ... R and again from 1; a constant input makes the
// quadratic exactly 1 and shows the fade itself.
TEST(FauxGlide, FlatCurveShapesEachInputBlockAsATrapezoid) {
  const std::vector<std::vector<int>> chunkings = {{150}, {100}, {7, 140}, {1}};
  for (int blockFrames : {512, 150}) {
    for (const std::vector<int>& chunks : chunkings) {
      SCOPED_TRACE(::testing::Message() << "block " << blockFrames << " first chunk " << chunks[0]);
      auto engine = glideEngine(blockFrames);
      giveInput(*engine, 3000, 1, [](int, int) { return 1.0f; });
      engine->setTable(2, {0.0});
      const int frames = 2100;
      NoteCapture note = engine->playNoteAlone("FAUXGLIDE", {0, 0, frames / double(kRate), 0.5, 2}, chunks);
      ASSERT_EQ(note.noteFrames, frames);
      for (int k = 3; k < frames; ++k) {
        const int index = (k - 1) % blockFrames + 1;
        ASSERT_EQ(sampleAt(note, k), 0.5f * blockFade(index, blockFrames)) << "frame " << k;
      }
    }
  }
  // The trapezoid of a 512-frame block at its corners.
  EXPECT_FLOAT_EQ(blockFade(1, 512), 0.01f);
  EXPECT_FLOAT_EQ(blockFade(99, 512), 0.99f);
  EXPECT_EQ(blockFade(100, 512), 1.0f);
  EXPECT_EQ(blockFade(412, 512), 1.0f);
  EXPECT_FLOAT_EQ(blockFade(413, 512), 0.99f);
  EXPECT_FLOAT_EQ(blockFade(511, 512), 0.01f);
  EXPECT_FLOAT_EQ(blockFade(512, 512), 0.0f);
  // In a 150-frame block the closing ramp starts at index 50.
  EXPECT_FLOAT_EQ(blockFade(49, 150), 0.49f);
  EXPECT_EQ(blockFade(50, 150), 1.0f);
  EXPECT_FLOAT_EQ(blockFade(51, 150), 0.99f);
}

// The reference pitch is a float, so a flat curve moves the read position by
// 0.99999994 samples a frame: the quadratic is evaluated just short of the
// middle sample, the input two frames back.
TEST(FauxGlide, FlatCurveGivesTheInputTwoFramesLateAtTheFloatRatio) {
  const double ratio = ratioFor(0.0);
  EXPECT_EQ(float(ratio), 0.99999994f);

  auto engine = glideEngine(4096);
  // 0, c, 2c repeating: the window 0, c, 2c makes the quadratic exactly the
  // float product x * c, so every third frame shows the evaluation point.
  const float c = 0.3f;
  auto input = [c](int j) { return float(j % 3) * c; };
  giveInput(*engine, 1000, 1, [&](int f, int) { return input(f); });
  engine->setTable(2, {0.0});
  const int frames = 600;
  // An amplitude other than 1 shows the order of the factors: (amp x fade) x value.
  NoteCapture note = engine->playNoteAlone("FAUXGLIDE", {0, 0, frames / double(kRate), 0.7, 2}, {64});
  ASSERT_EQ(note.noteFrames, frames);

  double readPos = 0.0;
  for (int k = 0; k < frames; ++k) {
    // The block index is k: frame k has taken input frames 0 ... k - 1.
    const float fade = k < 100 ? float(k) * 0.01f : 1.0f;
    if (k >= 3 && k % 3 == 0) {
      const float x = float(readPos - double(k + 1) + 2.0);
      ASSERT_LT(x, 1.0f) << "frame " << k;
      ASSERT_EQ(sampleAt(note, k), (0.7f * fade) * (x * c)) << "frame " << k;
    }
    if (k >= 100) {
      ASSERT_NEAR(sampleAt(note, k), 0.7f * input(k - 2), 1e-5) << "frame " << k;
    }
    readPos += ratio;
  }
}

TEST(FauxGlide, CurveOfOneOctaveTakesTwoSamplesPerFrame) {
  auto engine = glideEngine(4096);
  auto input = [](int j) { return float(std::sin(0.05 * j)); };
  giveInput(*engine, 2000, 1, [&](int f, int) { return input(f); });
  engine->setTable(3, {1.0});
  const int frames = 600;
  NoteCapture note = engine->playNoteAlone("FAUXGLIDE", {0, 0, frames / double(kRate), 1.0, 3}, {64});
  // Block index 2k - 1 at frame k: the fade is 1 from frame 51 on.
  for (int k = 51; k < frames; ++k) ASSERT_NEAR(sampleAt(note, k), input(2 * k - 2), 1e-4) << "frame " << k;
}

// A pitch curve stepping from 0 to 1 octave at entry S shows at the first
// read on or after frame S - 1 (which reads entry S); reads fall on frames
// 0, 20, 40 ... of every call.
TEST(FauxGlide, PitchStepReachesTheOutputAtTheNextRead) {
  const int frames = 400;
  const int stepAt = 250;
  const std::vector<std::vector<int>> chunkings = {{64}, {50}, {7}, {249, 64}, {230, 64}, {19, 1}};
  for (const std::vector<int>& chunks : chunkings) {
    SCOPED_TRACE(::testing::Message() << "chunks " << chunks[0] << (chunks.size() > 1 ? " ..." : ""));
    auto engine = glideEngine(4096);
    giveInput(*engine, 1000, 1, [](int f, int) { return float(f) * kSlope; });
    engine->setTable(2, stepCurve(frames, stepAt, 0.0, 1.0));
    NoteCapture note = engine->playNoteAlone("FAUXGLIDE", {0, 0, frames / double(kRate), 1.0, 2}, chunks);
    ASSERT_EQ(note.noteFrames, frames);

    const std::vector<bool> reads = callCadence(chunks, frames, 20);
    int firstNew = stepAt - 1;
    while (!reads[size_t(firstNew)]) ++firstNew;
    EXPECT_LE(firstNew - (stepAt - 1), 19);
    if (chunks[0] == stepAt - 1) {
      EXPECT_EQ(firstNew, stepAt - 1);
    }

    // From frame 100 the fade is 1 (block index k before the step, 2k - 250
    // or so after it).
    for (int k = 100; k + 1 < frames; ++k) {
      const double step = double(sampleAt(note, k + 1) - sampleAt(note, k)) / kSlope;
      ASSERT_NEAR(step, k >= firstNew ? ratioFor(1.0) : ratioFor(0.0), 0.01) << "frame " << k;
    }
  }
}

// Table 1 is read on note frames 0, P, 2P ... whatever the chunks: a call
// that starts between two reads keeps the amplitude of the last one.
TEST(FauxGlide, PhraseCurveCadenceRunsOverTheWholeNote) {
  const int frames = 300;
  const std::vector<std::vector<int>> chunkings = {{64}, {1}, {7, 3, 50}, {13}};
  for (int controlRate : {1000, 300, 77, 5000}) {
    const int period = int(float(kRate) / float(controlRate));
    for (const std::vector<int>& chunks : chunkings) {
      SCOPED_TRACE(::testing::Message() << "control rate " << controlRate << " first chunk " << chunks[0]);
      auto engine = glideEngine(4096, 1, controlRate);
      giveInput(*engine, 600, 1, [](int, int) { return 1.0f; });
      engine->setTable(2, {0.0});
      std::vector<double> curve(frames + 1);
      for (int i = 0; i <= frames; ++i) curve[size_t(i)] = i + 1;
      engine->setTable(1, curve);
      NoteCapture note = engine->playNoteAlone("FAUXGLIDE", {0, 0, frames / double(kRate), 0.5, 2}, chunks);
      ASSERT_EQ(note.noteFrames, frames);
      EXPECT_TRUE(engine->messages().empty());
      for (int k = 3; k < frames; ++k) {
        const int lastRead = period <= 0 ? k : k / period * period;
        const float fade = k < 100 ? float(k) * 0.01f : 1.0f;
        ASSERT_EQ(sampleAt(note, k), float(curve[size_t(lastRead)]) * 0.5f * fade) << "frame " << k;
      }
    }
  }
}

TEST(FauxGlide, WithoutPhraseCurveAdvisesOnceAndScalesByAmpAlone) {
  auto engine = glideEngine(4096);
  giveInput(*engine, 400, 1, [](int, int) { return 1.0f; });
  engine->setTable(2, {0.0});
  NoteCapture note = engine->playNoteAlone("FAUXGLIDE", {0, 0, 0.3, 0.75, 2}, {64});
  ASSERT_EQ(engine->messages().size(), 1u);
  EXPECT_EQ(engine->messages()[0].kind, MessageKind::Advice);
  EXPECT_EQ(engine->messages()[0].name, "FAUXGLIDE");
  EXPECT_EQ(engine->messages()[0].text, "Setting phrase curve to all 1's.");
  for (int k = 100; k < note.noteFrames; ++k) ASSERT_EQ(sampleAt(note, k), 0.75f) << "frame " << k;
}

// p2 = -5 with p1 = 1: the note lasts 4 s and both curves stretch over 4 s.
TEST(FauxGlide, NegativeDurationIsTheEndTimeInTheInput) {
  const int frames = 4000;
  auto engine = glideEngine(16384, 1, 2000);  // period 0: the amplitude is read every frame
  giveInput(*engine, 12000, 1, [](int f, int) { return float(f) * (1.0f / 16384.0f); });
  engine->setTable(1, {1.0, 2.0, 3.0});
  engine->setTable(2, {0.0, 1.0, 1.0});
  NoteCapture note = engine->playNoteAlone("FAUXGLIDE", {0, 1, -5, 1.0, 2}, {64});
  ASSERT_FALSE(note.refused);
  ASSERT_EQ(note.noteFrames, frames);

  // Reading starts 1 s into the input, two frames back.
  EXPECT_NEAR(sampleAt(note, 150), (1000 + 148) / 16384.0, 1e-4);
  const std::vector<bool> reads = callCadence({64}, frames, 20);
  int firstNew = 1999;
  while (!reads[size_t(firstNew)]) ++firstNew;
  for (int k = 100; k + 1 < frames; ++k) {
    const double amp = k >= frames / 2 ? 2.0 : 1.0;
    const double nextAmp = k + 1 >= frames / 2 ? 2.0 : 1.0;
    const double step = (sampleAt(note, k + 1) / nextAmp - sampleAt(note, k) / amp) * 16384.0;
    ASSERT_NEAR(step, k >= firstNew ? ratioFor(1.0) : ratioFor(0.0), 0.01) << "frame " << k;
  }
}

TEST(FauxGlide, RefusesBadNotesWithTheirMessages) {
  struct Case {
    const char* what;
    std::vector<PField> pfields;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"four pfields", {0, 0, 0.1, 1.0}, "Wrong number of args."},
      {"channel equal to the input's count", {0, 0, 0.1, 1.0, 2, 2}, "You asked for channel 2 of a 2-channel file."},
      {"negative channel", {0, 0, 0.1, 1.0, 2, -1}, "You asked for channel -1 of a 2-channel file."},
      {"missing pitch curve", {0, 0, 0.1, 1.0, 7}, "Unable to load pitch curve!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto engine = glideEngine(512);
    giveInput(*engine, 400, 2, [](int, int) { return 1.0f; });
    engine->setTable(2, {0.0});
    NoteCapture note = engine->playNoteAlone("FAUXGLIDE", c.pfields, {64});
    EXPECT_TRUE(note.refused);
    ASSERT_EQ(engine->messages().size(), 1u);
    EXPECT_EQ(engine->messages()[0].kind, MessageKind::Refusal);
    EXPECT_EQ(engine->messages()[0].name, "FAUXGLIDE");
    EXPECT_EQ(lastMessage(*engine), c.message);
  }
}

TEST(FauxGlide, FivePFieldsReadChannelZeroAndSplitEvenly) {
  auto engine = glideEngine(4096, 2);
  giveInput(*engine, 400, 2, [](int, int c) { return c == 0 ? 1.0f : 3.0f; });
  engine->setTable(2, {0.0});
  NoteCapture note = engine->playNoteAlone("FAUXGLIDE", {0, 0, 0.2, 2.0, 2}, {64});
  for (int k = 100; k < note.noteFrames; ++k) {
    ASSERT_EQ(sampleAt(note, k, 0), 1.0f) << "frame " << k;
    ASSERT_EQ(sampleAt(note, k, 1), 1.0f) << "frame " << k;
  }
}

TEST(FauxGlide, OutputLayoutsFollowTheChannelCount) {
  auto input = [](int f, int) { return float(std::sin(0.1 * f)); };
  const std::vector<PField> pfields = {0, 0, 0.3, 0.8, 2, 0, 0.1};
  auto mono = glideEngine(128, 1);
  giveInput(*mono, 400, 1, input);
  mono->setTable(2, {0.3});
  const NoteCapture reference = mono->playNoteAlone("FAUXGLIDE", pfields, {64});

  for (int channels : {2, 3, 4}) {
    SCOPED_TRACE(::testing::Message() << channels << " output channels");
    auto engine = glideEngine(128, channels);
    giveInput(*engine, 400, 1, input);
    engine->setTable(2, {0.3});
    NoteCapture note = engine->playNoteAlone("FAUXGLIDE", pfields, {64});
    ASSERT_EQ(note.outChannels, channels);
    for (int k = 0; k < note.noteFrames; ++k) {
      const float s = sampleAt(reference, k);
      if (channels == 2) {
        ASSERT_EQ(sampleAt(note, k, 0), s * 0.1f) << "frame " << k;
        ASSERT_EQ(sampleAt(note, k, 1), float(double(s) * (1.0 - double(0.1f)))) << "frame " << k;
      } else {
        ASSERT_EQ(sampleAt(note, k, 0), s) << "frame " << k;
        for (int c = 1; c < channels; ++c) ASSERT_EQ(sampleAt(note, k, c), 0.0f) << "frame " << k;
      }
    }
  }
}

// About 700 samples a frame from blocks of 256: several fetches within one
// frame; the fade follows the index in the last block fetched.
TEST(FauxGlide, HighRatioFetchesSeveralBlocksWithinOneFrame) {
  auto engine = glideEngine(256);
  const float slope = 1.0f / 65536.0f;
  giveInput(*engine, 50000, 1, [slope](int f, int) { return float(f) * slope; });
  const double octaves = std::log2(700.3);
  engine->setTable(2, {octaves});
  const int frames = 60;
  NoteCapture note = engine->playNoteAlone("FAUXGLIDE", {0, 0, frames / double(kRate), 1.0, 2}, {64});
  ASSERT_EQ(note.noteFrames, frames);
  const double ratio = ratioFor(octaves);
  double readPos = 0.0;
  for (int k = 0; k < frames; ++k) {
    if (k >= 1) {
      // Taking stops once one more than the samples taken exceeds readPos - 0.5.
      const long taken = long(std::floor(readPos - 0.5));
      const int index = int((taken - 1) % 256) + 1;
      const float fade = blockFade(index, 256);
      ASSERT_NEAR(sampleAt(note, k), fade * (readPos - 2.0) * slope, 1e-5) << "frame " << k;
    }
    readPos += ratio;
  }
}

TEST(FauxGlide, PastTheInputsEndTheNoteGoesSilent) {
  const int inputFrames = 300;
  for (double octaves : {0.0, 1.0}) {
    SCOPED_TRACE(::testing::Message() << "curve " << octaves);
    auto engine = glideEngine(4096);
    giveInput(*engine, inputFrames, 1, [](int f, int) { return 0.5f + float(f % 7) * 0.01f; });
    engine->setTable(2, {octaves});
    NoteCapture note = engine->playNoteAlone("FAUXGLIDE", {0, 0, 0.5, 1.0, 2}, {64});
    ASSERT_EQ(note.noteFrames, 500);
    ASSERT_EQ(note.frames.size(), 500u);
    const int silentFrom = int(inputFrames / ratioFor(octaves)) + 3;
    for (int k = 0; k < 500; ++k) {
      if (k >= 100 && k < silentFrom - 4) {
        ASSERT_GT(sampleAt(note, k), 0.4f) << "frame " << k;
      }
      if (k >= silentFrom) {
        ASSERT_EQ(sampleAt(note, k), 0.0f) << "frame " << k;
      }
    }
  }
}

TEST(FauxGlide, CurveValuesBeyondSixteenOctavesPlayAtSixteen) {
  auto play = [](double octaves) {
    auto engine = glideEngine(512);
    giveInput(*engine, 600000, 1, [](int f, int) { return float(f % 1000) / 1000.0f; });
    engine->setTable(2, {octaves});
    return engine->playNoteAlone("FAUXGLIDE", {0, 0, 0.008, 1.0, 2}, {512}).frames;
  };
  const std::vector<float> atSixteen = play(16.0);
  ASSERT_EQ(atSixteen.size(), 8u);
  EXPECT_NE(atSixteen, play(15.0));
  for (double octaves : {17.0, std::numeric_limits<double>::infinity(), std::nan("")}) {
    SCOPED_TRACE(octaves);
    EXPECT_EQ(play(octaves), atSixteen);
  }
}

TEST(FauxGlide, ZeroLengthNoteRunsOnceAndReturnsZero) {
  auto engine = glideEngine(512);
  giveInput(*engine, 100, 1, [](int, int) { return 1.0f; });
  engine->setTable(2, {0.0});
  NoteCapture note = engine->playNoteAlone("FAUXGLIDE", {0, 0, 0, 1.0, 2}, {64});
  ASSERT_FALSE(note.refused);
  EXPECT_EQ(note.noteFrames, 0);
  EXPECT_EQ(note.runResults, std::vector<int>{0});
}
