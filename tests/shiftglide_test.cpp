// SHIFTGLIDE through the engine: the read position and its interpolation, the
// pitch and amplitude cadences that restart with every run call, input past
// its end, the output layouts and every refusal.
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

std::unique_ptr<Engine> glideEngine(int blockFrames = 64, int channels = 1, int controlRate = 1000) {
  EngineSettings settings;
  settings.sampleRate = kRate;
  settings.blockFrames = blockFrames;
  settings.channels = channels;
  settings.controlRate = controlRate;
  auto engine = makeEngine(settings);
  engine->load("SHIFTGLIDE");
  return engine;
}

// Input samples advanced per output frame for a curve value, with the
// reference pitch held in single precision as the instrument holds it.
double ratioFor(double octaves) { return cpsoct(octaves + 10.0) / double(float(cpsoct(10.0))); }

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

// Note frames on which a call reads a curve every `period` frames, counting
// from the first frame of each call.
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

// The reference pitch is a float, so a flat curve moves the read position by
// 0.99999994 samples a frame: the quadratic is evaluated just short of the
// middle sample, the input two frames back.
TEST(ShiftGlide, FlatCurveGivesTheInputTwoFramesLateAtTheFloatRatio) {
  const double ratio = ratioFor(0.0);
  EXPECT_LT(ratio, 1.0);
  EXPECT_EQ(float(ratio), 0.99999994f);

  auto engine = glideEngine();
  // 0, c, 2c repeating: the window 0, c, 2c makes the quadratic exactly the
  // float product x * c, so every third frame shows the evaluation point.
  const float c = 0.3f;
  auto input = [c](int j) { return float(j % 3) * c; };
  giveInput(*engine, 1000, 1, [&](int f, int) { return input(f); });
  engine->setTable(2, {0.0});
  const int frames = 600;
  NoteCapture note = engine->playNoteAlone("SHIFTGLIDE", {0, 0, frames / double(kRate), 1.0, 2}, {64});
  ASSERT_FALSE(note.refused);
  ASSERT_EQ(note.noteFrames, frames);

  double readPos = 0.0;
  for (int k = 0; k < frames; ++k) {
    if (k >= 3 && k % 3 == 0) {
      // After frame 1 every frame takes one sample: k + 1 is one more than
      // the samples taken.
      const float x = float(readPos - double(k + 1) + 2.0);
      ASSERT_LT(x, 1.0f) << "frame " << k;
      ASSERT_EQ(sampleAt(note, k), x * c) << "frame " << k;
    }
    if (k >= 2) {
      ASSERT_NEAR(sampleAt(note, k), input(k - 2), 1e-5) << "frame " << k;
    }
    readPos += ratio;
  }
  EXPECT_EQ(sampleAt(note, 0), 0.0f);
  EXPECT_EQ(sampleAt(note, 1), 0.0f);
}

TEST(ShiftGlide, CurveOfOneOctaveTakesTwoSamplesPerFrame) {
  auto engine = glideEngine();
  auto input = [](int j) { return float(std::sin(0.05 * j)); };
  giveInput(*engine, 1000, 1, [&](int f, int) { return input(f); });
  engine->setTable(3, {1.0, 1.0});
  const int frames = 300;
  NoteCapture note = engine->playNoteAlone("SHIFTGLIDE", {0, 0, frames / double(kRate), 1.0, 3}, {64});
  ASSERT_EQ(note.noteFrames, frames);
  for (int k = 1; k < frames; ++k) ASSERT_NEAR(sampleAt(note, k), input(2 * k - 2), 1e-4) << "frame " << k;
}

// With a ramp input the output's step from one frame to the next is the
// ratio in force. A curve stepping from 0 to 1 octave at entry S shows at
// the first pitch read on or after frame S - 1 (which reads entry S): reads
// fall on frames 0, 21, 42 ... of every call.
TEST(ShiftGlide, PitchStepReachesTheOutputAtTheNextRead) {
  const int frames = 300;
  const int stepAt = 150;
  const std::vector<std::vector<int>> chunkings = {{64}, {50}, {7}, {149, 64}, {130, 64}, {20, 1}};
  for (const std::vector<int>& chunks : chunkings) {
    SCOPED_TRACE(::testing::Message() << "chunks " << chunks[0] << (chunks.size() > 1 ? " ..." : ""));
    auto engine = glideEngine(256);
    giveInput(*engine, 1000, 1, [](int f, int) { return float(f) * kSlope; });
    engine->setTable(2, stepCurve(frames, stepAt, 0.0, 1.0));
    NoteCapture note = engine->playNoteAlone("SHIFTGLIDE", {0, 0, frames / double(kRate), 1.0, 2}, chunks);
    ASSERT_EQ(note.noteFrames, frames);

    const std::vector<bool> reads = callCadence(chunks, frames, 21);
    int firstNew = stepAt - 1;
    while (!reads[size_t(firstNew)]) ++firstNew;
    EXPECT_LE(firstNew - (stepAt - 1), 20);
    if (chunks[0] == stepAt - 1) {
      EXPECT_EQ(firstNew, stepAt - 1);
    }

    for (int k = 3; k + 1 < frames; ++k) {
      const double step = double(sampleAt(note, k + 1) - sampleAt(note, k)) / kSlope;
      const double ratio = k >= firstNew ? ratioFor(1.0) : ratioFor(0.0);
      ASSERT_NEAR(step, ratio, 0.01) << "frame " << k;
    }
  }
}

// A constant input makes the quadratic exactly 1, so the output is the
// working amplitude: table 1 read on frames 0, P + 1, 2(P + 1) ... of each
// call, P = trunc(SR / resetval).
TEST(ShiftGlide, PhraseCurveIsReadAfreshAtEveryCall) {
  const int frames = 200;
  const std::vector<std::vector<int>> chunkings = {{64}, {1}, {7, 3, 50}, {13}};
  for (int controlRate : {1000, 300, 77, 5000}) {
    const int period = int(float(kRate) / float(controlRate));
    for (const std::vector<int>& chunks : chunkings) {
      SCOPED_TRACE(::testing::Message() << "control rate " << controlRate << " first chunk " << chunks[0]);
      auto engine = glideEngine(64, 1, controlRate);
      giveInput(*engine, 400, 1, [](int, int) { return 1.0f; });
      engine->setTable(2, {0.0});
      std::vector<double> curve(frames + 1);
      for (int i = 0; i <= frames; ++i) curve[size_t(i)] = i + 1;
      engine->setTable(1, curve);
      NoteCapture note = engine->playNoteAlone("SHIFTGLIDE", {0, 0, frames / double(kRate), 0.5, 2}, chunks);
      ASSERT_EQ(note.noteFrames, frames);
      EXPECT_TRUE(engine->messages().empty());

      const std::vector<bool> reads = callCadence(chunks, frames, period + 1);
      int lastRead = 0;
      for (int k = 0; k < frames; ++k) {
        if (reads[size_t(k)]) lastRead = k;
        if (k >= 3) {
          ASSERT_EQ(sampleAt(note, k), float(curve[size_t(lastRead)]) * 0.5f) << "frame " << k;
        }
      }
    }
  }
}

TEST(ShiftGlide, WithoutPhraseCurveAdvisesOnceAndScalesByAmpAlone) {
  auto engine = glideEngine();
  giveInput(*engine, 400, 1, [](int, int) { return 1.0f; });
  engine->setTable(2, {0.0});
  NoteCapture note = engine->playNoteAlone("SHIFTGLIDE", {0, 0, 0.2, 0.75, 2}, {64});
  ASSERT_EQ(engine->messages().size(), 1u);
  EXPECT_EQ(engine->messages()[0].kind, MessageKind::Advice);
  EXPECT_EQ(engine->messages()[0].name, "SHIFTGLIDE");
  EXPECT_EQ(engine->messages()[0].text, "Setting phrase curve to all 1's.");
  for (int k = 3; k < note.noteFrames; ++k) ASSERT_EQ(sampleAt(note, k), 0.75f) << "frame " << k;
}

// p2 = -5 with p1 = 1: the note lasts 4 s and both curves stretch over 4 s.
TEST(ShiftGlide, NegativeDurationIsTheEndTimeInTheInput) {
  const int frames = 4000;
  auto engine = glideEngine(64, 1, 2000);  // period 0: the amplitude is read every frame
  giveInput(*engine, 12000, 1, [](int f, int) { return float(f) * (1.0f / 16384.0f); });
  engine->setTable(1, {1.0, 2.0, 3.0});
  engine->setTable(2, {0.0, 1.0, 1.0});
  NoteCapture note = engine->playNoteAlone("SHIFTGLIDE", {0, 1, -5, 1.0, 2}, {64});
  ASSERT_FALSE(note.refused);
  ASSERT_EQ(note.noteFrames, frames);

  // Reading starts 1 s into the input, two frames back.
  EXPECT_NEAR(sampleAt(note, 10), (1000 + 8) / 16384.0, 1e-4);
  // The output divided by the amplitude tracks the read position, whose step
  // doubles at the first pitch read after frame 1999.
  const std::vector<bool> reads = callCadence({64}, frames, 21);
  int firstNew = 1999;
  while (!reads[size_t(firstNew)]) ++firstNew;
  for (int k = 3; k + 1 < frames; ++k) {
    const double amp = k >= frames / 2 ? 2.0 : 1.0;
    const double nextAmp = k + 1 >= frames / 2 ? 2.0 : 1.0;
    const double step = (sampleAt(note, k + 1) / nextAmp - sampleAt(note, k) / amp) * 16384.0;
    ASSERT_NEAR(step, k >= firstNew ? ratioFor(1.0) : ratioFor(0.0), 0.01) << "frame " << k;
  }
}

TEST(ShiftGlide, RefusesBadNotesWithTheirMessages) {
  struct Case {
    const char* what;
    std::vector<PField> pfields;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"four pfields", {0, 0, 0.1, 1.0}, "Wrong number of args."},
      {"channel equal to the input's count", {0, 0, 0.1, 1.0, 2, 2}, "You asked for channel 2 of a 2-channel file."},
      {"negative channel", {0, 0, 0.1, 1.0, 2, -1}, "You asked for channel -1 of a 2-channel file."},
      {"missing pitch curve", {0, 0, 0.1, 1.0, 7}, "Unable to load pitch curve (table 7)!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto engine = glideEngine();
    giveInput(*engine, 400, 2, [](int, int) { return 1.0f; });
    engine->setTable(2, {0.0});
    NoteCapture note = engine->playNoteAlone("SHIFTGLIDE", c.pfields, {64});
    EXPECT_TRUE(note.refused);
    EXPECT_TRUE(note.frames.empty());
    // Refused before the phrase curve is looked at: no advisory.
    ASSERT_EQ(engine->messages().size(), 1u);
    EXPECT_EQ(engine->messages()[0].kind, MessageKind::Refusal);
    EXPECT_EQ(engine->messages()[0].name, "SHIFTGLIDE");
    EXPECT_EQ(lastMessage(*engine), c.message);
  }

  // Placement and input refused by the engine itself.
  auto engine = glideEngine();
  engine->setTable(2, {0.0});
  EXPECT_TRUE(engine->playNoteAlone("SHIFTGLIDE", {0, 0, 0.1, 1.0, 2}, {64}).refused);
  giveInput(*engine, 400, 1, [](int, int) { return 1.0f; });
  EXPECT_TRUE(engine->playNoteAlone("SHIFTGLIDE", {-1, 0, 0.1, 1.0, 2}, {64}).refused);
  EXPECT_TRUE(engine->playNoteAlone("SHIFTGLIDE", {0, 2, -1, 1.0, 2}, {64}).refused);
  for (const Message& message : engine->messages()) EXPECT_NE(message.text, "Wrong number of args.");
}

TEST(ShiftGlide, FivePFieldsReadChannelZeroAndSplitEvenly) {
  auto engine = glideEngine(64, 2);
  giveInput(*engine, 400, 2, [](int, int c) { return c == 0 ? 1.0f : 3.0f; });
  engine->setTable(2, {0.0});
  NoteCapture note = engine->playNoteAlone("SHIFTGLIDE", {0, 0, 0.1, 2.0, 2}, {64});
  for (int k = 3; k < note.noteFrames; ++k) {
    ASSERT_EQ(sampleAt(note, k, 0), 1.0f) << "frame " << k;
    ASSERT_EQ(sampleAt(note, k, 1), 1.0f) << "frame " << k;
  }
  NoteCapture second = engine->playNoteAlone("SHIFTGLIDE", {0, 0, 0.1, 2.0, 2, 1}, {64});
  EXPECT_EQ(sampleAt(second, 50, 0), 3.0f);
}

// Mono gets the sample, stereo splits it by p6 (channel 1's share formed in
// double), three channels and more get it in channel 0 alone.
TEST(ShiftGlide, OutputLayoutsFollowTheChannelCount) {
  auto input = [](int f, int) { return float(std::sin(0.1 * f)); };
  const std::vector<PField> pfields = {0, 0, 0.2, 0.8, 2, 0, 0.1};
  auto mono = glideEngine(64, 1);
  giveInput(*mono, 400, 1, input);
  mono->setTable(2, {0.3});
  const NoteCapture reference = mono->playNoteAlone("SHIFTGLIDE", pfields, {64});
  ASSERT_EQ(reference.outChannels, 1);

  for (int channels : {2, 3, 4}) {
    SCOPED_TRACE(::testing::Message() << channels << " output channels");
    auto engine = glideEngine(64, channels);
    giveInput(*engine, 400, 1, input);
    engine->setTable(2, {0.3});
    NoteCapture note = engine->playNoteAlone("SHIFTGLIDE", pfields, {64});
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

// About a hundred samples a frame from blocks of 16: several fetches within
// one frame, and the output still follows the read position.
TEST(ShiftGlide, HighRatioFetchesSeveralBlocksWithinOneFrame) {
  auto engine = glideEngine(16);
  const float slope = 1.0f / 65536.0f;
  giveInput(*engine, 8000, 1, [slope](int f, int) { return float(f) * slope; });
  const double octaves = std::log2(100.3);
  engine->setTable(2, {octaves});
  const int frames = 60;
  NoteCapture note = engine->playNoteAlone("SHIFTGLIDE", {0, 0, frames / double(kRate), 1.0, 2}, {16});
  ASSERT_EQ(note.noteFrames, frames);
  const double ratio = ratioFor(octaves);
  ASSERT_GT(ratio, 6 * 16);
  double readPos = 0.0;
  for (int k = 0; k < frames; ++k) {
    if (k >= 1) {
      ASSERT_NEAR(sampleAt(note, k), (readPos - 2.0) * slope, 1e-5) << "frame " << k;
    }
    readPos += ratio;
  }
}

// Past the input's end the engine delivers zeros: the note keeps its length
// and falls silent once the three newest samples are all past the end.
TEST(ShiftGlide, PastTheInputsEndTheNoteGoesSilent) {
  const int inputFrames = 200;
  for (double octaves : {0.0, 1.0}) {
    SCOPED_TRACE(::testing::Message() << "curve " << octaves);
    auto engine = glideEngine();
    giveInput(*engine, inputFrames, 1, [](int f, int) { return 0.5f + float(f % 7) * 0.01f; });
    engine->setTable(2, {octaves});
    NoteCapture note = engine->playNoteAlone("SHIFTGLIDE", {0, 0, 0.5, 1.0, 2}, {64});
    ASSERT_EQ(note.noteFrames, 500);
    ASSERT_EQ(note.frames.size(), 500u);
    const int silentFrom = int(inputFrames / ratioFor(octaves)) + 3;
    for (int k = 0; k < 500; ++k) {
      if (k >= 2 && k < silentFrom - 4) {
        ASSERT_GT(sampleAt(note, k), 0.4f) << "frame " << k;
      }
      if (k >= silentFrom) {
        ASSERT_EQ(sampleAt(note, k), 0.0f) << "frame " << k;
      }
    }
  }
}

// An infinite curve value would keep the read loop going for ever; values
// above 16 octaves, infinite or not a number, play at 16 octaves.
TEST(ShiftGlide, CurveValuesBeyondSixteenOctavesPlayAtSixteen) {
  auto play = [](double octaves) {
    auto engine = glideEngine(512);
    giveInput(*engine, 600000, 1, [](int f, int) { return float(f % 1000) / 1000.0f; });
    engine->setTable(2, {octaves});
    return engine->playNoteAlone("SHIFTGLIDE", {0, 0, 0.008, 1.0, 2}, {512}).frames;
  };
  const std::vector<float> atSixteen = play(16.0);
  ASSERT_EQ(atSixteen.size(), 8u);
  EXPECT_NE(atSixteen, play(15.0));
  for (double octaves : {17.0, 1e300, std::numeric_limits<double>::infinity(), std::nan("")}) {
    SCOPED_TRACE(octaves);
    EXPECT_EQ(play(octaves), atSixteen);
  }
}

TEST(ShiftGlide, ZeroLengthNoteRunsOnceAndReturnsZero) {
  auto engine = glideEngine();
  giveInput(*engine, 100, 1, [](int, int) { return 1.0f; });
  engine->setTable(2, {0.0});
  NoteCapture note = engine->playNoteAlone("SHIFTGLIDE", {0, 0, 0, 1.0, 2}, {64});
  ASSERT_FALSE(note.refused);
  EXPECT_EQ(note.noteFrames, 0);
  EXPECT_EQ(note.runResults, std::vector<int>{0});
}
