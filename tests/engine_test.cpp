// The engine as a host sees it: plug-in loading and registration, note
// placement and chunking, table pfields, bus configurations, options.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/TestEngine.h"

using namespace vemora;
using vemora::testing::giveInput;
using vemora::testing::lastMessage;
using vemora::testing::makeEngine;
using vemora::testing::makeTable;

namespace {

EngineSettings rateOf(int sampleRate, int block = 64, int channels = 2) {
  EngineSettings settings;
  settings.sampleRate = sampleRate;
  settings.blockFrames = block;
  settings.channels = channels;
  return settings;
}

float at(const std::vector<float>& frames, int channels, int frame, int channel) {
  return frames[size_t(frame) * size_t(channels) + size_t(channel)];
}

}  // namespace

TEST(PluginLoading, RefusesNamesThatAreNotPlainNames) {
  auto engine = makeEngine();
  for (const char* name : {"../PAN", "plugins/PAN", "", "..", "/tmp/x"}) {
    SCOPED_TRACE(name);
    try {
      engine->load(name);
      FAIL() << "loaded";
    } catch (const ScoreError& error) {
      EXPECT_NE(std::string(error.what()).find("is not a plug-in name"), std::string::npos) << error.what();
    }
  }
}

TEST(PluginLoading, MissingPluginNamesTheFoldersSearched) {
  auto engine = makeEngine();
  try {
    engine->load("NOSUCH");
    FAIL() << "loaded";
  } catch (const ScoreError& error) {
    const std::string text = error.what();
    EXPECT_EQ(text.rfind("load: no plug-in named NOSUCH (searched: ", 0), 0u) << text;
    EXPECT_NE(text.find(VEMORA_TEST_PLUGIN_DIR), std::string::npos) << text;
  }
}

TEST(PluginLoading, RegistersInstrumentsAndFunctionsByName) {
  auto engine = makeEngine();
  EXPECT_EQ(engine->load("FRAMEPROBE"), std::vector<std::string>{"FRAMEPROBE"});
  EXPECT_TRUE(engine->hasInstrument("FRAMEPROBE"));
  std::vector<std::string> functions = engine->load("legacyprobe");
  EXPECT_EQ(functions.size(), 7u);
  EXPECT_TRUE(engine->hasFunction("lp_copy"));
  EXPECT_FALSE(engine->hasInstrument("lp_copy"));
  // A second load registers nothing and refuses nothing.
  EXPECT_EQ(engine->load("FRAMEPROBE"), std::vector<std::string>{"FRAMEPROBE"});
  EXPECT_TRUE(engine->messages().empty());
}

TEST(PluginLoading, SecondRegistrationOfANameIsRefused) {
  auto engine = makeEngine();
  engine->load("FRAMEPROBE");
  static rt_item again = {nullptr, [] { return static_cast<Instrument*>(nullptr); }, "FRAMEPROBE"};
  EXPECT_EQ(addrtInst(&again), -1);
  ASSERT_FALSE(engine->messages().empty());
  EXPECT_NE(lastMessage(*engine).find("FRAMEPROBE"), std::string::npos);
  EXPECT_THROW(engine->bindInstrument("FRAMEPROBE", again.rt_ptr), ScoreError);
}

// FRAMEPROBE mode 2 writes the first half of each chunk and returns that
// count: the engine must still take noteFrames frames, the rest silent.
TEST(NoteDriving, ChunksFollowBlocksAndShortRunsLeaveSilence) {
  for (int startFrame : {0, 100, 127, 128}) {
    SCOPED_TRACE(startFrame);
    auto engine = makeEngine(rateOf(1000));
    engine->load("FRAMEPROBE");
    const int length = 300;
    ASSERT_TRUE(engine->playNote("FRAMEPROBE", {startFrame / 1000.0, length / 1000.0, 2}));
    std::vector<float> out = engine->renderToMemory();
    ASSERT_EQ(out.size(), size_t(startFrame + length) * 2);

    std::vector<float> expected(out.size(), 0.0f);
    int cursor = 0;
    for (int from = startFrame; from < startFrame + length;) {
      const int blockEnd = (from / 64 + 1) * 64;
      const int chunk = std::min(blockEnd, startFrame + length) - from;
      for (int i = 0; i < chunk / 2; ++i) {
        ++cursor;
        expected[size_t(from + i) * 2] = expected[size_t(from + i) * 2 + 1] = float(cursor);
      }
      from += chunk;
    }
    EXPECT_EQ(out, expected);
  }
}

TEST(NoteDriving, ChosenChunkSizesAreCappedAtTheNoteEnd) {
  auto engine = makeEngine(rateOf(1000));
  engine->load("FRAMEPROBE");
  NoteCapture capture = engine->playNoteAlone("FRAMEPROBE", {0.0, 0.025, 0}, {7, 3, 10});
  EXPECT_EQ(capture.chunkSizes, (std::vector<int>{7, 3, 10, 5}));
  EXPECT_EQ(capture.runResults, capture.chunkSizes);
  for (int f = 0; f < 25; ++f) EXPECT_EQ(at(capture.frames, 2, f, 1), float(f + 1));
}

TEST(NoteDriving, ZeroLengthNoteRunsOnceWhenTheRenderReachesItsStart) {
  auto engine = makeEngine(rateOf(1000));
  engine->load("FRAMEPROBE");
  ASSERT_TRUE(engine->playNote("FRAMEPROBE", {0.0, 1.0, 1}));
  ASSERT_TRUE(engine->playNote("FRAMEPROBE", {0.3, 0.0, 1}));
  takeBangReady();
  std::vector<int64_t> raisedAt;
  struct Discard : OutputSink {
    void write(const float*, int) override {}
  } sink;
  engine->render(sink, [&](int64_t next) {
    if (takeBangReady()) raisedAt.push_back(next);
  });
  EXPECT_EQ(raisedAt, std::vector<int64_t>{320});  // the block holding frame 300
  EXPECT_EQ(engine->playNoteAlone("FRAMEPROBE", {0.0, 0.0, 1}, {16}).chunkSizes, std::vector<int>{0});
}

// FRAMEPROBE adds in place (straight into the block) in mode 0, and into a
// chunk of its own in mode 6: notes of both kinds sum at their places.
TEST(NoteDriving, NotesAreMixedAtTheirPlace) {
  auto engine = makeEngine(rateOf(1000, 16));
  engine->load("FRAMEPROBE");
  ASSERT_TRUE(engine->playNote("FRAMEPROBE", {0.010, 0.020, 0}));
  ASSERT_TRUE(engine->playNote("FRAMEPROBE", {0.005, 0.010, 0}));
  ASSERT_TRUE(engine->playNote("FRAMEPROBE", {0.003, 0.022, 6, 1000}));  // never fails
  EXPECT_EQ(engine->scoreFrames(), 30);
  std::vector<float> out = engine->renderToMemory();
  for (int f = 0; f < 30; ++f) {
    float expected = 0.0f;
    if (f >= 3 && f < 25) expected += float(f - 3 + 1);
    if (f >= 10) expected += float(f - 10 + 1);
    if (f >= 5 && f < 15) expected += float(f - 5 + 1);
    EXPECT_EQ(at(out, 2, f, 0), expected) << "frame " << f;
    EXPECT_EQ(at(out, 2, f, 1), expected) << "frame " << f;
  }
}

TEST(NoteDriving, ANoteThatFailsWhilePlayingIsDroppedAndNoLongerCounts) {
  auto engine = makeEngine(rateOf(1000, 16));
  engine->load("FRAMEPROBE");
  ASSERT_TRUE(engine->playNote("FRAMEPROBE", {0.0, 0.100, 6, 20}));  // fails at its frame 20
  ASSERT_TRUE(engine->playNote("FRAMEPROBE", {0.050, 0.010, 0}));    // waits meanwhile
  EXPECT_EQ(engine->scoreFrames(), 100);
  std::vector<int64_t> endAfterBlock;
  struct Discard : OutputSink {
    void write(const float*, int) override {}
  } sink;
  engine->render(sink, [&](int64_t) { endAfterBlock.push_back(engine->scoreFrames()); });
  // Until the block of its frame 20 the first note counts; from then on
  // the score ends with the second.
  ASSERT_GE(endAfterBlock.size(), 3u);
  EXPECT_EQ(endAfterBlock[0], 100);
  EXPECT_EQ(endAfterBlock[1], 60);
  EXPECT_EQ(lastMessage(*engine), "the instrument failed while playing; note dropped");
  EXPECT_EQ(engine->notesPlayed(), 1);
  EXPECT_EQ(engine->notesRefused(), 1);
}

TEST(NoteDriving, RefusedPlacementsNameTheReason) {
  auto engine = makeEngine(rateOf(1000));
  engine->load("FRAMEPROBE");
  EXPECT_FALSE(engine->playNote("FRAMEPROBE", {-1.0, 1.0, 0}));
  EXPECT_NE(lastMessage(*engine).find("before the start"), std::string::npos);
  EXPECT_FALSE(engine->playNote("FRAMEPROBE", {0.0, 1e9, 0}));
  EXPECT_NE(lastMessage(*engine).find("longer than the engine can render"), std::string::npos);
  EXPECT_FALSE(engine->playNote("FRAMEPROBE", {0.0, 1.0, 9}));
  EXPECT_EQ(lastMessage(*engine), "Unknown mode 9.");
  EXPECT_EQ(engine->messages().back().name, "FRAMEPROBE");
  EXPECT_EQ(engine->notesRefused(), 3);
  EXPECT_EQ(engine->notesPlayed(), 0);
  EXPECT_EQ(engine->scoreFrames(), 0);
}

TEST(TablePFields, FollowTheNoteFromFirstToLastEntry) {
  auto engine = makeEngine(rateOf(1000));
  engine->load("FRAMEPROBE");
  // 21 frames over entries 0, 10, 20: each frame reads its own index.
  NoteCapture dynamic = engine->playNoteAlone("FRAMEPROBE", {0.0, 0.021, 4, makeTable({0, 10, 20})}, {5, 16});
  ASSERT_EQ(dynamic.noteFrames, 21);
  for (int f = 0; f < 21; ++f) EXPECT_FLOAT_EQ(at(dynamic.frames, 2, f, 0), float(f)) << "frame " << f;

  NoteCapture raw = engine->playNoteAlone("FRAMEPROBE", {0.0, 0.005, 5, makeTable({4, 3, 2})}, {64});
  EXPECT_EQ(raw.frames, (std::vector<float>{4, 4, 3, 3, 2, 2, -1, -1, -1, -1}));
  NoteCapture none = engine->playNoteAlone("FRAMEPROBE", {0.0, 0.001, 5, 7.0}, {64});
  EXPECT_EQ(none.frames, (std::vector<float>{-1, -1}));
}

namespace {

// Checks which pfields update() fills for a mask; the note holds p[i] = 10 + i.
class MaskProbe : public Instrument {
 public:
  static inline unsigned mask = 0;
  static inline std::vector<double> seen;
  int init(double*, int) override {
    rtsetoutput(0.0f, 0.0f, this);
    seen.assign(8, -1.0);
    update(seen.data(), 8, mask);
    return 0;
  }
  int run() override { return 0; }
};

}  // namespace

TEST(TablePFields, UpdateFillsTheMaskedFieldsOnly) {
  auto engine = makeEngine();
  engine->bindInstrument("MASKPROBE", [] { return static_cast<Instrument*>(new MaskProbe); });
  const std::vector<PField> fields = {10, 11, 12, 13, 14, 15};
  MaskProbe::mask = 104;
  ASSERT_TRUE(engine->playNote("MASKPROBE", fields));
  EXPECT_EQ(MaskProbe::seen, (std::vector<double>{-1, -1, -1, 13, -1, 15, 0, -1}));
  MaskProbe::mask = 0;
  ASSERT_TRUE(engine->playNote("MASKPROBE", fields));
  EXPECT_EQ(MaskProbe::seen, (std::vector<double>{10, 11, 12, 13, 14, 15, 0, 0}));
}

TEST(Input, EachNoteReadsFromItsOwnInskipAndZerosPastTheEnd) {
  auto engine = makeEngine(rateOf(1000));
  engine->load("FRAMEPROBE");
  giveInput(*engine, 50, 1, [](int f, int) { return float(f); });
  NoteCapture a = engine->playNoteAlone("FRAMEPROBE", {0.0, 0.010, 3, 0.045}, {3});
  std::vector<float> left;
  for (int f = 0; f < 10; ++f) left.push_back(at(a.frames, 2, f, 0));
  EXPECT_EQ(left, (std::vector<float>{45, 46, 47, 48, 49, 0, 0, 0, 0, 0}));

  ASSERT_TRUE(engine->playNote("FRAMEPROBE", {0.0, 0.004, 3, 0.010}));
  ASSERT_TRUE(engine->playNote("FRAMEPROBE", {0.002, 0.004, 3, 0.030}));
  std::vector<float> out = engine->renderToMemory();
  std::vector<float> mixed;
  for (int f = 0; f < 6; ++f) mixed.push_back(at(out, 2, f, 1));
  EXPECT_EQ(mixed, (std::vector<float>{10, 11, 12 + 30, 13 + 31, 32, 33}));
}

TEST(Input, RefusesInputAtAnotherRateAndNotesWithoutInput) {
  auto engine = makeEngine(rateOf(1000));
  engine->load("FRAMEPROBE");
  EXPECT_FALSE(engine->playNote("FRAMEPROBE", {0.0, 0.01, 3, 0.0}));
  EXPECT_NE(lastMessage(*engine).find("call rtinput first"), std::string::npos);
  try {
    engine->setInput(memorySoundInput(std::vector<float>(10), 1, 48000, "other.wav"));
    FAIL() << "accepted";
  } catch (const ScoreError& error) {
    EXPECT_EQ(std::string(error.what()), "rtinput: \"other.wav\" runs at 48000 Hz but the render runs at 1000 Hz");
  }
}

TEST(BusConfig, PicksInputChannelsAndPlacesOutputChannels) {
  auto engine = makeEngine(rateOf(1000, 64, 4));
  engine->load("FRAMEPROBE");
  giveInput(*engine, 10, 3, [](int f, int c) { return float(100 * c + f); });
  engine->busConfig("FRAMEPROBE", {"in2", "out1-2"});
  NoteCapture capture = engine->playNoteAlone("FRAMEPROBE", {0.0, 0.003, 3, 0.0}, {64});
  EXPECT_EQ(capture.outChannels, 2);
  EXPECT_EQ(capture.frames, (std::vector<float>{200, 200, 201, 201, 202, 202}));
  ASSERT_TRUE(engine->playNote("FRAMEPROBE", {0.0, 0.002, 3, 0.0}));
  std::vector<float> out = engine->renderToMemory();
  EXPECT_EQ(out, (std::vector<float>{0, 200, 200, 0, 0, 201, 201, 0}));

  EXPECT_THROW(engine->busConfig("FRAMEPROBE", {"out3-4"}), ScoreError);
  EXPECT_THROW(engine->busConfig("FRAMEPROBE", {"sideways"}), ScoreError);
  engine->busConfig("FRAMEPROBE", {"in5"});
  EXPECT_FALSE(engine->playNote("FRAMEPROBE", {0.0, 0.002, 3, 0.0}));
  EXPECT_EQ(lastMessage(*engine), "the bus configuration reads input channel 5 of a 3-channel input");
}

TEST(Options, AreCheckedAndRefusedAfterTheFirstNote) {
  auto engine = makeEngine();
  engine->setOption("sr=48000");
  engine->setOption("control_rate=500");
  EXPECT_EQ(Instrument::SR, 48000.0f);
  EXPECT_EQ(resetval, 500);
  for (const char* bad : {"sr=fast", "sr=10", "channels=0", "block=", "colour=blue", "sr"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(engine->setOption(bad), ScoreError);
  }
  engine->load("FRAMEPROBE");
  ASSERT_TRUE(engine->playNote("FRAMEPROBE", {0.0, 0.01, 0}));
  EXPECT_THROW(engine->setOption("sr=44100"), ScoreError);
}

TEST(Messages, CarryTheScoreLocationAndReachThePrintBuffer) {
  auto engine = makeEngine();
  engine->load("FRAMEPROBE");
  MMPrint::mm_print_ptr = MMPrint::mm_print_buf;
  engine->setScoreLocation("song.lua:7");
  engine->playNote("FRAMEPROBE", {0.0, 1.0, 42});
  ASSERT_EQ(engine->messages().size(), 1u);
  EXPECT_EQ(engine->messages()[0].where, "song.lua:7");
  EXPECT_EQ(std::string(MMPrint::mm_print_buf), "song.lua:7: FRAMEPROBE: Unknown mode 42.\n");
}

TEST(Rendering, FileHoldsExactlyWhatMemoryRenderingGives) {
  const std::string path = ::testing::TempDir() + "engine_test_stream.wav";
  std::vector<float> expected;
  for (bool toFile : {false, true}) {
    auto engine = makeEngine(rateOf(1000, 64));
    engine->load("FRAMEPROBE");
    // Long enough to take many blocks; notes overlap and end off block edges.
    ASSERT_TRUE(engine->playNote("FRAMEPROBE", {0.0, 3.001, 0}));
    ASSERT_TRUE(engine->playNote("FRAMEPROBE", {1.5, 2.0, 0}));
    if (!toFile) {
      expected = engine->renderToMemory();
      continue;
    }
    RenderReport report = engine->renderToFile(path);
    EXPECT_EQ(report.frames, 3500);
    EXPECT_EQ(report.notesPlayed, 2);
    EXPECT_EQ(report.peaks, (std::vector<float>{3001.0f + 1501.0f, 3001.0f + 1501.0f}));
  }
  auto input = openSoundInput(path);
  ASSERT_EQ(input->frames(), 3500);
  std::vector<float> read(expected.size());
  input->read(0, 3500, read.data());
  EXPECT_EQ(read, expected);
  std::remove(path.c_str());
}

TEST(Rendering, LiveStreamPlacesNotesFromItsPosition) {
  auto engine = makeEngine(rateOf(1000, 16, 1));
  engine->load("FRAMEPROBE");
  struct Collect : OutputSink {
    std::vector<float> frames;
    void write(const float* data, int n) override { frames.insert(frames.end(), data, data + n); }
  } sink;
  engine->openStream(sink);
  EXPECT_TRUE(engine->streamIdle());
  // The open stream renders blocks of the settings it was opened with.
  EXPECT_THROW(engine->setOption("block=64"), ScoreError);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(engine->renderStreamBlock(), 16);
  ASSERT_EQ(engine->streamPosition(), 48);
  ASSERT_TRUE(engine->playNote("FRAMEPROBE", {0.0, 0.004, 0}));
  ASSERT_TRUE(engine->playNote("FRAMEPROBE", {0.010, 0.002, 0}));
  EXPECT_FALSE(engine->streamIdle());
  while (!engine->streamIdle()) engine->renderStreamBlock();
  engine->closeStream();
  ASSERT_EQ(sink.frames.size(), 64u);
  std::vector<float> expected(64, 0.0f);
  for (int f = 0; f < 4; ++f) expected[size_t(48 + f)] = float(f + 1);
  for (int f = 0; f < 2; ++f) expected[size_t(58 + f)] = float(f + 1);
  EXPECT_EQ(sink.frames, expected);
}

TEST(Engines, EachEngineActsForItselfWhenSeveralLive) {
  auto first = makeEngine(rateOf(1000));
  first->load("FRAMEPROBE");
  auto second = makeEngine(rateOf(2000));
  second->load("FRAMEPROBE");
  second.reset();
  ASSERT_TRUE(first->playNote("FRAMEPROBE", {0.0, 0.010, 0}));
  EXPECT_EQ(first->renderToMemory().size(), 20u);  // 10 frames at 1000 Hz
  auto third = makeEngine(rateOf(4000));
  third->load("FRAMEPROBE");
  EXPECT_EQ(first->playNoteAlone("FRAMEPROBE", {0.0, 0.010, 0}, {64}).noteFrames, 10);
  EXPECT_EQ(third->playNoteAlone("FRAMEPROBE", {0.0, 0.010, 0}, {64}).noteFrames, 40);
}
