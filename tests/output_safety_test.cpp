// What a file render may never do to the files around it, run through the
// real vemora program: replace its own score or inputs, write a header that
// lies about a large file, report success when finishing the file failed,
// lose a stop that came at the very end, die of a closed standard output,
// or render an input that changed under it without a word.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Engine.h"
#include "support/ProgramRun.h"

namespace fs = std::filesystem;
using namespace programrun;

namespace {

const std::string kVemora = VEMORA_BIN_DIR "/vemora";
const std::string kFaultShim = VEMORA_FAULT_SHIM;
constexpr double kRunSeconds = 120.0;

// A score that reads in.wav through PAN.
constexpr const char* kPanScore =
    "load('PAN')\n"
    "rtinput('in.wav')\n"
    "PAN(0, 0, 0.5, 0.5, 0, 0, 0.5)\n";

class OutputSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("vemora-output-safety-" + std::to_string(getpid()) + "-" +
                                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    removeFolder(folder);
    fs::create_directories(folder);
    writeSine(folder / "in.wav", 1, 44100, 44100);
    writeFile(folder / "score.lua", kPanScore);
  }
  void TearDown() override { removeFolder(folder); }

  Process::Options options(std::vector<std::string> args, std::vector<std::string> environment = {}) const {
    Process::Options o;
    o.args = std::move(args);
    o.folder = folder;
    o.logs = folder.string() + "-log";
    o.environment = std::move(environment);
    return o;
  }

  fs::path folder;
};

// With every fault the shim knows, named by VEMORA_FAULT.
std::vector<std::string> withFault(const std::string& fault) {
  // A sanitizer build wants its runtime first among the libraries; the
  // shim comes before it here.
  const char* asan = std::getenv("ASAN_OPTIONS");
  return {"LD_PRELOAD=" + kFaultShim, "VEMORA_FAULT=" + fault,
          "ASAN_OPTIONS=" + std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "verify_asan_link_order=0"};
}

int64_t framesIn(const fs::path& path, SF_INFO* info = nullptr) {
  SF_INFO local{};
  SF_INFO& i = info ? *info : local;
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &i);
  if (!file) return -1;
  sf_close(file);
  return i.frames;
}

TEST_F(OutputSafety, NeverReplacesTheScoreOrAnInput) {
  const std::string input = readFile(folder / "in.wav");
  fs::create_hard_link(folder / "in.wav", folder / "hard.wav");
  fs::create_symlink("in.wav", folder / "soft.wav");
  fs::create_symlink("score.lua", folder / "score-link.wav");
  // A score named like its input, with no rtoutput: its default output is
  // its own input.
  writeFile(folder / "in.lua", kPanScore);
  struct Case {
    std::vector<std::string> args;
    std::string named;  // what the message must name besides the output
  };
  const std::vector<Case> cases = {
      {{kVemora, "in.lua"}, "the input \"in.wav\""},
      {{kVemora, "--output", "./in.wav", "score.lua"}, "the input \"in.wav\""},
      {{kVemora, "--output", "hard.wav", "score.lua"}, "the input \"in.wav\""},
      {{kVemora, "--output", "soft.wav", "score.lua"}, "the input \"in.wav\""},
      {{kVemora, "--output", "score-link.wav", "score.lua"}, "the score score.lua"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[c.args.size() - 2] + " " + c.args.back());
    const Outcome outcome = run(options(c.args), kRunSeconds);
    expectNoCrashOrHang(outcome);
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_TRUE(contains(outcome.err, "is the same file as " + c.named)) << outcome.err;
    EXPECT_EQ(readFile(folder / "in.wav"), input);
    EXPECT_EQ(readFile(folder / "score.lua"), kPanScore);
    EXPECT_TRUE(fs::is_symlink(folder / "soft.wav"));
    EXPECT_EQ(temporariesUnder(folder), std::vector<std::string>{});
  }
  // The same input under another name is no trouble.
  const Outcome fine = run(options({kVemora, "-q", "--output", "take.wav", "score.lua"}), kRunSeconds);
  EXPECT_EQ(fine.exitStatus, 0) << fine.err;
  EXPECT_EQ(framesIn(folder / "take.wav"), 22050);
}

// Every way the end of a file can fail is an error: the earlier file stays,
// no temporary is left, and the status is 1.
TEST_F(OutputSafety, FailureWhileFinishingTheFileKeepsTheEarlierOne) {
  const std::string earlier = "an earlier take\n";
  struct Case {
    std::string fault;
    std::string cause;
  };
  const std::vector<Case> cases = {
      {"header-write", "its header counts 0 frames of 2 channels, not the 22050 of 2 written"},
      {"short-header", "its header counts 0 frames of 2 channels, not the 22050 of 2 written"},
      {"seek", ""},
      {"peak-stamp", "Input/output error"},
      {"fsync", "Input/output error"},
      {"close", "Input/output error"},
      {"rename", "Input/output error"},
      {"folder-fsync", "the folder could not be flushed to the disk: Input/output error"},
  };
  for (const bool existing : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.fault + (existing ? ", with an earlier file" : ""));
      fs::remove(folder / "take.wav");
      if (existing) writeFile(folder / "take.wav", earlier);
      const Outcome outcome =
          run(options({kVemora, "-q", "-o", "take.wav", "score.lua"}, withFault(c.fault)), kRunSeconds);
      expectNoCrashOrHang(outcome);
      EXPECT_EQ(outcome.exitStatus, 1) << outcome.err;
      EXPECT_TRUE(contains(outcome.err, "vemora: rtoutput: cannot write \"take.wav\": " + c.cause)) << outcome.err;
      EXPECT_EQ(temporariesUnder(folder), std::vector<std::string>{});
      if (existing)
        EXPECT_EQ(readFile(folder / "take.wav"), earlier);
      else
        EXPECT_FALSE(fs::exists(folder / "take.wav"));
    }
  }
  // The shim itself changes nothing when it injects no fault.
  const Outcome fine = run(options({kVemora, "-q", "-o", "take.wav", "score.lua"}, withFault("none")), kRunSeconds);
  EXPECT_EQ(fine.exitStatus, 0) << fine.err;
  EXPECT_EQ(framesIn(folder / "take.wav"), 22050);
}

// A stop that arrives while the file is being flushed and renamed waits for
// it: the file is complete, and the status and the message say so.
TEST_F(OutputSafety, StopDuringTheFinalFlushCommitsTheFile) {
  Process render(options({kVemora, "-q", "-o", "take.wav", "score.lua"}, withFault("slow-fsync")));
  ASSERT_TRUE(waitFor(kRunSeconds, [&] { return fs::exists(folder / "fsync-started"); })) << render.err();
  render.signal(SIGTERM);
  const Outcome outcome = render.wait(kRunSeconds);
  expectNoCrashOrHang(outcome);
  EXPECT_EQ(outcome.exitStatus, 0);
  EXPECT_EQ(outcome.err, "vemora: SIGTERM came as take.wav was being finished; it was written in full\n");
  EXPECT_EQ(framesIn(folder / "take.wav"), 22050);
  EXPECT_EQ(temporariesUnder(folder), std::vector<std::string>{});
}

// vemora score.lua | head -1: the reader of standard output is gone before
// the report; the file is written all the same and the status follows it.
TEST_F(OutputSafety, ClosedStandardOutputDoesNotStopTheRender) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);
  Process::Options o = options({kVemora, "-o", "take.wav", "score.lua"});
  o.standardOutput = ends[1];
  Process render(o);
  close(ends[1]);
  const Outcome outcome = render.wait(kRunSeconds);
  expectNoCrashOrHang(outcome);
  EXPECT_EQ(outcome.exitStatus, 0);
  EXPECT_EQ(outcome.err,
            "vemora: the report could not be written to standard output: Broken pipe; take.wav was written\n");
  EXPECT_EQ(framesIn(folder / "take.wav"), 22050);
}

// Another program cuts the input short once the render has begun: said
// once, with the file and the frame, and the status is 2.
TEST_F(OutputSafety, InputCutShortDuringTheRenderIsAnnounced) {
  writeSine(folder / "in.wav", 1, 44100, 441000);
  writeFile(folder / "score.lua", "load('PAN')\nrtinput('in.wav')\nPAN(0, 0, 10, 0.5, 0, 0, 0.5)\n");
  std::vector<std::string> environment = withFault("truncate-input");
  environment.push_back("VEMORA_TRUNCATE=in.wav");
  environment.push_back("VEMORA_TRUNCATE_BYTES=20000");
  const Outcome outcome = run(options({kVemora, "-q", "-o", "take.wav", "score.lua"}, environment), kRunSeconds);
  expectNoCrashOrHang(outcome);
  EXPECT_EQ(outcome.exitStatus, 2);
  EXPECT_EQ(countOf(outcome.err, "was cut shorter while the render read it"), 1u) << outcome.err;
  EXPECT_TRUE(
      contains(outcome.err, "rtinput: \"in.wav\" was cut shorter while the render read it (noticed at frame 0)"))
      << outcome.err;
  EXPECT_TRUE(contains(outcome.err, "take.wav was written, but an input changed while it was read")) << outcome.err;
  EXPECT_EQ(framesIn(folder / "take.wav"), 441000);
}

// The same through the engine, with the file rewritten in place between
// two blocks of the render: same size, other sound.
TEST_F(OutputSafety, InputRewrittenDuringTheRenderIsAnnouncedOnce) {
  writeSine(folder / "in.wav", 1, 44100, 100000);
  vemora::Engine engine;
  engine.setEchoMessages(false);
  engine.load("PAN");
  engine.setInput((folder / "in.wav").string());
  engine.playNote("PAN", {0.0, 0.0, 2.0, 0.5, 0.0, 0.0, 0.5});
  struct NullSink : vemora::OutputSink {
    void write(const float*, int) override {}
  } sink;
  bool rewritten = false;
  engine.render(sink, [&](int64_t frame) {
    if (rewritten || frame < 20000) return;
    rewritten = true;
    std::string bytes = readFile(folder / "in.wav");
    std::fill(bytes.end() - 100000, bytes.end(), '\x11');
    const int fd = open((folder / "in.wav").c_str(), O_WRONLY);
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
    const timespec later[2] = {{0, UTIME_OMIT}, {2000000000, 0}};
    futimens(fd, later);
    close(fd);
  });
  EXPECT_EQ(engine.inputsChanged(), 1);
  int announced = 0;
  for (const vemora::Message& message : engine.messages())
    if (contains(message.text, "was changed while the render read it")) ++announced;
  EXPECT_EQ(announced, 1);
}

// Room for a file past 4 GiB, in memory if it can be had.
fs::path roomForFourGiB() {
  for (const fs::path& candidate : {fs::path("/dev/shm"), fs::temp_directory_path()}) {
    struct statvfs space {};
    if (statvfs(candidate.c_str(), &space) == 0 && double(space.f_bavail) * double(space.f_frsize) > 6e9)
      return candidate;
  }
  return {};
}

// 64 channels at 192 kHz pass 4 GiB in 88 s of sound. The WAV becomes RF64
// with sizes that count every frame; AIFF, which cannot, is refused before
// anything is written.
TEST(LargeOutput, WavPastFourGiBIsWrittenAsRf64AndAiffIsRefused) {
  const fs::path room = roomForFourGiB();
  if (room.empty()) GTEST_SKIP() << "no file system here has 6 GB free";
  const fs::path folder = room / ("vemora-large-" + std::to_string(getpid()));
  fs::create_directories(folder);
  writeFile(folder / "big.lua", "set_option('sr=192000', 'channels=64')\nload('argprobe')\nargprobe(88, 0.1, 0.5)\n");
  Process::Options o;
  o.folder = folder;
  o.logs = folder.string() + "-log";

  o.args = {kVemora, "-q", "-o", "big.aif", "big.lua"};
  const Outcome aiff = run(o, kRunSeconds);
  EXPECT_EQ(aiff.exitStatus, 1);
  EXPECT_TRUE(contains(aiff.err, "an AIFF file holds at most 4.00 GiB of sound")) << aiff.err;
  EXPECT_FALSE(fs::exists(folder / "big.aif"));

  o.args = {kVemora, "-q", "-o", "big.wav", "big.lua"};
  const Outcome wav = run(o, 600.0);
  expectNoCrashOrHang(wav);
  EXPECT_EQ(wav.exitStatus, 0) << wav.err;
  const int64_t frames = int64_t(88.1 * 192000);
  SF_INFO info{};
  SNDFILE* file = sf_open((folder / "big.wav").c_str(), SFM_READ, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_RF64);
  EXPECT_EQ(info.channels, 64);
  EXPECT_EQ(info.frames, frames);
  EXPECT_EQ(int64_t(fs::file_size(folder / "big.wav")) > (int64_t(1) << 32), true);
  // The note at 88 s is where it was put, past the 4 GiB mark.
  std::vector<float> tail(size_t(64) * 100);
  ASSERT_EQ(sf_seek(file, 88 * 192000 + 10, SEEK_SET), 88 * 192000 + 10);
  ASSERT_EQ(sf_readf_float(file, tail.data(), 100), 100);
  EXPECT_EQ(tail[0], 0.5f);
  EXPECT_EQ(tail[2], 0.0f);
  sf_close(file);
  removeFolder(folder);
  fs::remove(folder.string() + "-log.out");
  fs::remove(folder.string() + "-log.err");
}

// A name the file system takes is not refused because the temporary's
// suffix would make it too long.
TEST_F(OutputSafety, LongestNameIsWritten) {
  const std::string name = std::string(251, 'n') + ".wav";
  const Outcome outcome = run(options({kVemora, "-q", "-o", name, "score.lua"}), kRunSeconds);
  EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
  EXPECT_EQ(framesIn(folder / name), 22050);
}

// A score from a pipe (vemora <(make-score)) is read once, whole; with no
// file to name the output after, it must name one.
TEST_F(OutputSafety, ScoreFromAPipe) {
  Process::Options o = options({"/bin/sh", "-c", "cat score.lua | " + kVemora + " -q -o piped.wav /dev/stdin"});
  const Outcome piped = run(o, kRunSeconds);
  EXPECT_EQ(piped.exitStatus, 0) << piped.err;
  EXPECT_EQ(framesIn(folder / "piped.wav"), 22050);
  o.args = {"/bin/sh", "-c", "cat score.lua | " + kVemora + " -q /dev/stdin"};
  const Outcome unnamed = run(o, kRunSeconds);
  EXPECT_EQ(unnamed.exitStatus, 1);
  EXPECT_EQ(unnamed.err,
            "vemora: the score /dev/stdin is not a file, so no output can be named after it: give --output FILE or "
            "rtoutput(\"FILE\") in the score\n");
}

// What a score may take in memory is bounded: too much is an error at its
// line, and one file opened again costs nothing more.
TEST_F(OutputSafety, MemoryLimit) {
  writeFile(folder / "table.lua", "load('PAN')\ngen(1, 7, 16777216, 0, 16777216, 1)\n");
  const Outcome table = run(options({kVemora, "-q", "--max-memory", "64M", "table.lua"}), kRunSeconds);
  EXPECT_EQ(table.exitStatus, 1);
  EXPECT_EQ(table.err,
            "vemora: table.lua:2: gen: a table of 16777216 entries would take the score past its memory limit of "
            "67108864 bytes\n");

  writeSine(folder / "wide.wav", 64, 44100, 1000);  // each opening caches 8 MiB
  writeFile(folder / "wide.lua",
            "load('PAN')\nfor i = 1, 60 do rtinput('wide.wav') PAN(0, 0, 0.01, 0.5, 0, 0, 0.5) end\n");
  const Outcome again = run(options({kVemora, "-q", "--max-memory", "64M", "-o", "a.wav", "wide.lua"}), kRunSeconds);
  EXPECT_EQ(again.exitStatus, 0) << again.err;

  // Eight of them fill the 64 MiB; the ninth is refused.
  for (int i = 0; i < 10; ++i) fs::copy_file(folder / "wide.wav", folder / ("wide" + std::to_string(i) + ".wav"));
  writeFile(folder / "many.lua",
            "load('PAN')\nfor i = 0, 9 do\n  rtinput('wide' .. i .. '.wav')\n  PAN(0, 0, 0.01, 0.5, 0, 0, 0.5)\nend\n");
  const Outcome many = run(options({kVemora, "-q", "--max-memory", "64M", "-o", "b.wav", "many.lua"}), kRunSeconds);
  EXPECT_EQ(many.exitStatus, 1);
  EXPECT_TRUE(contains(many.err,
                       "vemora: many.lua:3: rtinput: reading \"wide8.wav\" (64 channels) needs 8 MiB, "
                       "which would pass the memory limit of 64 MiB"))
      << many.err;

  const Outcome bad = run(options({kVemora, "--max-memory", "lots", "score.lua"}), kRunSeconds);
  EXPECT_EQ(bad.exitStatus, 1);
  EXPECT_EQ(bad.err, "vemora: --max-memory: \"lots\" is not a size (give bytes, or a number with K, M or G)\n");
}

}  // namespace
