// The engine's socket server, driven through the scorewire client: whole
// records, notes placed from their arrival, connections taking turns, bad
// records refused without taking the server down, the output finished on
// stop. What depends on time runs on a clock the test moves.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "SocketServer.h"
#include "scorewire.h"
#include "support/TestEngine.h"

using namespace vemora;
namespace fs = std::filesystem;

namespace {

constexpr int kSocketNumber = 41;
constexpr double kLimit = 60.0;  // seconds any wait may take, sanitizers included

// Waits up to `seconds` for `done`, looking every 2 ms; returns whether it
// came true.
template <class Condition>
bool waitUntil(double seconds, Condition done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// The server's clock, moved by the test and read by the server's thread.
class TestClock {
 public:
  using Clock = std::chrono::steady_clock;
  Clock::time_point now() const { return Clock::time_point(Clock::duration(ticks.load())); }
  void setSeconds(double seconds) {
    ticks = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)).count();
  }

 private:
  std::atomic<Clock::rep> ticks{0};
};

// Standard error going to a file the test can read while the server's
// thread writes to it.
class StderrFile {
 public:
  StderrFile() : path(fs::temp_directory_path() / ("socket-server-stderr-" + std::to_string(getpid()))) {
    std::fflush(stderr);
    saved = dup(STDERR_FILENO);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    dup2(fd, STDERR_FILENO);
    close(fd);
  }
  ~StderrFile() {
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    fs::remove(path);
  }
  StderrFile(const StderrFile&) = delete;
  StderrFile& operator=(const StderrFile&) = delete;

  std::string text() const {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  bool has(const std::string& part, double seconds = kLimit) const {
    return waitUntil(seconds, [&] { return text().find(part) != std::string::npos; });
  }

 private:
  fs::path path;
  int saved = -1;
};

struct RunningServer {
  std::unique_ptr<Engine> engine;
  std::unique_ptr<SocketServer> server;
  std::thread thread;
  fs::path folder;
  int status = -1;

  // With a clock, the server paces itself by it instead of the steady clock.
  explicit RunningServer(const char* name, const TestClock* clock = nullptr) {
    folder = fs::temp_directory_path() / (std::string(name) + "-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    EngineSettings settings;
    settings.sampleRate = 8000;
    settings.channels = 1;
    settings.blockFrames = 80;  // 10 ms
    engine = vemora::testing::makeEngine(settings);
    ServerSettings serverSettings;
    serverSettings.socketNumber = kSocketNumber;
    serverSettings.defaultOutput = "default.wav";
    serverSettings.baseFolder = folder.string();
    if (clock) serverSettings.clock = [clock] { return clock->now(); };
    server = std::make_unique<SocketServer>(*engine, serverSettings);
    server->listen();
    thread = std::thread([this] { status = server->serve(); });
  }

  int connect() {
    char host[] = "127.0.0.1";
    return RTsock(host, kSocketNumber);
  }

  void stop() {
    server->stop();
    thread.join();
  }

  ~RunningServer() {
    if (thread.joinable()) stop();
    fs::remove_all(folder);
  }
};

void sendRaw(int fd, const sockdata& record) { ASSERT_EQ(write(fd, &record, sizeof record), ssize_t(sizeof record)); }

// Waits until the server has handled `count` records.
void waitForRecords(const SocketServer& server, int count) {
  ASSERT_TRUE(waitUntil(kLimit, [&] { return server.recordsHandled() >= count; })) << server.recordsHandled();
}

std::vector<float> readOutput(const fs::path& path) {
  auto input = openSoundInput(path.string());
  std::vector<float> frames(size_t(input->frames()) * size_t(input->channels()));
  input->read(0, int(input->frames()), frames.data());
  return frames;
}

// Frames where a FRAMEPROBE note starts: its first frame holds 1.
std::vector<int> noteStarts(const std::vector<float>& mono) {
  std::vector<int> starts;
  for (size_t f = 0; f < mono.size(); ++f)
    if (mono[f] == 1.0f) starts.push_back(int(f));
  return starts;
}

std::string slurpText(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

// On the server's own clock: the two notes of a burst arrive at one moment
// and play 0.5 s apart from it, paced by the clock into the file rtoutput
// named.
TEST(SocketServer, PlaysNotesFromTheirArrivalIntoTheNamedFile) {
  TestClock clock;
  RunningServer running("socket-session", &clock);
  const int fd = running.connect();
  RTsendsock("load", fd, 1, "FRAMEPROBE");
  RTsendsock("rtoutput", fd, 1, "session.wav");
  RTsendsock("gen", fd, 5, 1.0, 2.0, 2.0, 0.5, 0.25);
  // Two notes in one burst: 0.5 s apart however long the burst takes.
  RTsendsock("FRAMEPROBE", fd, 3, 0.0, 0.05, 0.0);
  RTsendsock("FRAMEPROBE", fd, 3, 0.5, 0.05, 0.0);
  waitForRecords(*running.server, 5);
  clock.setSeconds(0.7);  // both notes' time has come
  close(fd);
  running.stop();
  EXPECT_EQ(running.status, 0);
  const std::vector<float> out = readOutput(running.folder / "session.wav");
  const std::vector<int> starts = noteStarts(out);
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_NEAR(starts[1] - starts[0], 4000, 80);  // within one block
  EXPECT_LE(starts[0], 2 * 80);                  // the first note sounds at once
  EXPECT_EQ(out[size_t(starts[1] + 399)], 400.0f);
  EXPECT_GE(out.size(), size_t(starts[1] + 400));
}

// Tables of 65536 entries from four harmonics, some milliseconds of work
// each, sent on a connection back to back, faster than they run, for as
// long as the flood lives. It ends by shutting the connection, which
// frees a send the server left waiting.
class TableFlood {
 public:
  explicit TableFlood(int fd)
      : fd(fd), thread([this] {
          while (!done) {
            RTsendsock("gen", this->fd, 7, 1.0, 10.0, 65536.0, 1.0, 0.5, 0.33, 0.25);
            ++count;
          }
        }) {}
  ~TableFlood() {
    done = true;
    shutdown(fd, SHUT_RDWR);
    thread.join();
  }
  TableFlood(const TableFlood&) = delete;
  TableFlood& operator=(const TableFlood&) = delete;

  int sent() const { return count; }

 private:
  int fd;
  std::atomic<bool> done{false};
  std::atomic<int> count{0};
  std::thread thread;
};

// One connection sending heavy table records back to back does not hold
// back the notes another sends meanwhile: they land as far apart in the
// file as they were sent, not stacked up when the tables are done. Each
// note is sent at its moment on the server's clock, which moves on once
// the server has run the note: within a turn while the flood goes on (a
// server that ran one connection's records while it had any would not
// reach the note until the wait ran out).
TEST(SocketServer, HeavyRecordsOnOneConnectionDoNotDelayAnothersNotes) {
  constexpr int kNotes = 6;
  constexpr double kApart = 0.4;
  TestClock clock;
  RunningServer running("socket-heavy", &clock);
  const StderrFile err;
  const int heavy = running.connect();
  const int light = running.connect();
  ASSERT_GE(heavy, 0);
  ASSERT_GE(light, 0);
  RTsendsock("load", light, 1, "FRAMEPROBE");
  {
    const TableFlood flood(heavy);
    ASSERT_TRUE(waitUntil(kLimit, [&] { return flood.sent() >= 8; }));  // the flood is under way
    for (int i = 0; i < kNotes; ++i) {
      clock.setSeconds(kApart * i);
      RTsendsock("FRAMEPROBE", light, 3, 0.0, 0.02, 0.0);
      // A record of no command after the note: its complaint says the note ran.
      const std::string mark = "mark" + std::to_string(i);
      RTsendsock(mark.c_str(), light, 0);
      ASSERT_TRUE(err.has("unknown command \"" + mark + "\"")) << "the note waited for the tables";
    }
  }
  close(heavy);
  close(light);
  running.stop();
  EXPECT_EQ(running.status, 0);
  const std::vector<int> starts = noteStarts(readOutput(running.folder / "default.wav"));
  ASSERT_EQ(starts.size(), size_t(kNotes)) << "a note is missing or overlaps another";
  for (int i = 1; i < kNotes; ++i) {
    SCOPED_TRACE(i);
    // Generous: half the spacing they were sent with.
    EXPECT_GE(starts[size_t(i)] - starts[size_t(i - 1)], int(kApart / 2 * 8000));
  }
}

// While the session runs, its file's header is brought up to date every
// half second of the server's clock: what a kill leaves is readable up to
// that age.
TEST(SocketServer, TheSessionFilesHeaderFollowsTheClock) {
  TestClock clock;
  RunningServer running("socket-header", &clock);
  const int fd = running.connect();
  RTsendsock("load", fd, 1, "FRAMEPROBE");
  RTsendsock("rtoutput", fd, 1, "take.wav");
  RTsendsock("FRAMEPROBE", fd, 3, 0.0, 10.0, 0.0);
  waitForRecords(*running.server, 3);
  // The frames the header of the file as it stands counts.
  const auto framesInTheHeader = [&]() -> int64_t {
    for (const auto& entry : fs::directory_iterator(running.folder)) {
      if (entry.path().filename().string().rfind("take.wav.part-", 0) != 0) continue;
      // Read under a name that says WAV; the bytes are the temporary's.
      const fs::path copy = running.folder / "peek.wav";
      fs::copy_file(entry.path(), copy, fs::copy_options::overwrite_existing);
      return openSoundInput(copy.string())->frames();
    }
    return -1;
  };
  // The record counts as handled as it starts to run: the session's file is
  // there once the note has opened it, at the clock's 0.
  ASSERT_TRUE(waitUntil(kLimit, [&] { return framesInTheHeader() == 0; }));
  for (const double seconds : {0.5, 1.0, 2.0, 3.0}) {
    SCOPED_TRACE(seconds);
    clock.setSeconds(seconds);
    int64_t frames = -1;
    EXPECT_TRUE(waitUntil(kLimit, [&] { return (frames = framesInTheHeader()) == int64_t(seconds * 8000); })) << frames;
  }
  close(fd);
  running.stop();
  EXPECT_EQ(running.status, 0);
}

TEST(SocketServer, MalformedRecordsCloseTheirConnectionOnly) {
  RunningServer running("socket-malformed");
  int fd = running.connect();
  RTsendsock("load", fd, 1, "FRAMEPROBE");
  waitForRecords(*running.server, 1);

  std::vector<sockdata> bad(4);
  for (sockdata& record : bad) std::memset(&record, 0, sizeof record);
  std::memset(bad[0].name, 'X', sizeof bad[0].name);  // no terminator
  std::strcpy(bad[1].name, "FRAMEPROBE");
  bad[1].n_args = -1;
  std::strcpy(bad[2].name, "FRAMEPROBE");
  bad[2].n_args = 5000;
  std::strcpy(bad[3].name, "rtinput");
  bad[3].n_args = 1;
  std::memset(bad[3].data.text[0], 'a', SCOREWIRE_TEXT_BYTES);  // no terminator
  const StderrFile err;
  for (const sockdata& record : bad) {
    sendRaw(fd, record);
    char byte;
    EXPECT_EQ(read(fd, &byte, 1), 0);  // the server closed this connection
    close(fd);
    fd = running.connect();
  }
  // A partial record, then a close.
  ASSERT_EQ(write(fd, "FRAMEPROBE", 10), 10);
  close(fd);
  fd = running.connect();
  RTsendsock("FRAMEPROBE", fd, 3, 0.0, 0.02, 0.0);
  waitForRecords(*running.server, 2);
  // The server sees the cut record's close before the stop.
  EXPECT_TRUE(err.has("closed inside a record (10 of 8296 bytes)")) << err.text();
  close(fd);
  running.stop();
  const std::string messages = err.text();
  EXPECT_NE(messages.find("the command name is not terminated"), std::string::npos) << messages;
  EXPECT_NE(messages.find("n_args -1 is outside 0 to 1024"), std::string::npos) << messages;
  EXPECT_NE(messages.find("n_args 5000 is outside 0 to 1024"), std::string::npos) << messages;
  EXPECT_NE(messages.find("text argument 0 is not terminated"), std::string::npos) << messages;
  EXPECT_NE(messages.find("closed inside a record (10 of 8296 bytes)"), std::string::npos) << messages;
  EXPECT_EQ(noteStarts(readOutput(running.folder / "default.wav")).size(), 1u);
}

TEST(SocketServer, BadCommandsAreReportedAndTheConnectionGoesOn) {
  RunningServer running("socket-commands");
  const int fd = running.connect();
  ::testing::internal::CaptureStderr();
  RTsendsock("NOSUCH", fd, 1, 1.0);
  RTsendsock("set_option", fd, 1, "colour=blue");
  RTsendsock("load", fd, 1, "../FRAMEPROBE");
  RTsendsock("load", fd, 1, "FRAMEPROBE");
  RTsendsock("FRAMEPROBE", fd, 3, 0.0, 0.01, 0.0);
  waitForRecords(*running.server, 5);
  close(fd);
  running.stop();
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("connection 1: unknown command \"NOSUCH\""), std::string::npos) << err;
  EXPECT_NE(err.find("unknown option \"colour\""), std::string::npos) << err;
  EXPECT_NE(err.find("is not a plug-in name"), std::string::npos) << err;
  EXPECT_EQ(running.engine->notesPlayed(), 1);
}

TEST(SocketServer, BurstOfTenThousandNotesLosesNone) {
  RunningServer running("socket-burst");
  const int fd = running.connect();
  RTsendsock("load", fd, 1, "FRAMEPROBE");
  constexpr int kNotes = 10000;
  const auto begin = std::chrono::steady_clock::now();
  for (int i = 0; i < kNotes; ++i) RTsendsock("FRAMEPROBE", fd, 3, 0.0, 0.001, 0.0);
  waitForRecords(*running.server, kNotes + 1);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  close(fd);
  running.stop();
  EXPECT_EQ(running.engine->notesPlayed(), kNotes);
  // Every note adds 1 to its first frame wherever it landed.
  const std::vector<float> out = readOutput(running.folder / "default.wav");
  double total = 0;
  for (float sample : out) total += sample;
  EXPECT_EQ(total, kNotes * (1 + 2 + 3 + 4 + 5 + 6 + 7 + 8));
  RecordProperty("records_per_second", std::to_string(int(kNotes / seconds)));
  std::printf("%d note records in %.3f s: %.0f records per second\n", kNotes, seconds, kNotes / seconds);
}

// The whole path a client takes: start the program with RTopensocket, send a
// table and notes, stop it with RTkillsocket, find the notes in the file.
TEST(SocketServer, ProgramStartedAndStoppedByTheClient) {
  const fs::path folder = fs::temp_directory_path() / ("socket-program-" + std::to_string(getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  // The start line has room for a short program name only.
  const fs::path program = fs::temp_directory_path() / ("vm" + std::to_string(getpid()));
  fs::remove(program);
  fs::create_symlink(fs::path(VEMORA_BIN_DIR) / "vemora", program);
  const fs::path here = fs::current_path();
  fs::current_path(folder);
  setenv("VEMORA_PLUGIN_PATH", VEMORA_TEST_PLUGIN_DIR, 1);
  ::testing::internal::CaptureStdout();
  const int pid = RTopensocket(4, const_cast<char*>(program.c_str()));
  ::testing::internal::GetCapturedStdout();
  unsetenv("VEMORA_PLUGIN_PATH");
  ASSERT_GT(pid, 0);
  char host[] = "127.0.0.1";
  int fd = -1;
  ::testing::internal::CaptureStderr();
  waitUntil(kLimit, [&] { return (fd = newRTsock(host, 4)) >= 0; });
  ::testing::internal::GetCapturedStderr();
  ASSERT_GE(fd, 0);
  RTsendsock("set_option", fd, 2, "sr=8000", "channels=1");
  RTsendsock("load", fd, 1, "FRAMEPROBE");
  RTsendsock("rtoutput", fd, 1, "client.wav");
  RTsendsock("gen", fd, 4, 1.0, 2.0, 2.0, 0.5);
  RTsendsock("FRAMEPROBE", fd, 3, 0.0, 0.05, 0.0);
  RTsendsock("FRAMEPROBE", fd, 3, 0.25, 0.05, 0.0);
  // The first note opens the session's file; the stop runs what was sent
  // after it and plays both notes to their end.
  EXPECT_TRUE(waitUntil(kLimit, [&] {
    for (const auto& entry : fs::directory_iterator(folder))
      if (entry.path().filename().string().rfind("client.wav.part-", 0) == 0) return true;
    return false;
  }));
  RTkillsocket(fd, pid);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  fs::current_path(here);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ASSERT_TRUE(fs::exists(folder / "client.wav"));
  EXPECT_NE(slurpText(folder / "zarn.dbug").find("wrote"), std::string::npos);
  const std::vector<int> starts = noteStarts(readOutput(folder / "client.wav"));
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_NEAR(starts[1] - starts[0], 2000, 512);  // within one block of the engine's default
  fs::remove(program);
  fs::remove_all(folder);
}

namespace {

// Keeps what the stream renders, for a server that writes no file.
class KeptFrames : public OutputSink {
 public:
  explicit KeptFrames(std::vector<float>* frames) : frames(frames) {}
  void write(const float* interleaved, int count) override {
    frames->insert(frames->end(), interleaved, interleaved + count);
  }

 private:
  std::vector<float>* frames;
};

sockdata numbersRecord(const char* name, std::vector<double> values) {
  sockdata record;
  std::memset(&record, 0, sizeof record);
  std::strcpy(record.name, name);
  record.n_args = int(values.size());
  for (size_t i = 0; i < values.size(); ++i) record.data.p[i] = values[i];
  return record;
}

sockdata textRecord(const char* name, const char* text) {
  sockdata record;
  std::memset(&record, 0, sizeof record);
  std::strcpy(record.name, name);
  record.n_args = 1;
  std::strcpy(record.data.text[0], text);
  return record;
}

struct SocketlessServer {
  std::unique_ptr<Engine> engine;
  std::unique_ptr<SocketServer> server;
  std::vector<float> frames;
  std::chrono::steady_clock::time_point time{};  // the server's clock, moved by the test

  SocketlessServer() {
    EngineSettings settings;
    settings.sampleRate = 8000;
    settings.channels = 1;
    settings.blockFrames = 80;
    engine = vemora::testing::makeEngine(settings);
    ServerSettings serverSettings;
    serverSettings.openOutput = [this] { return std::make_unique<KeptFrames>(&frames); };
    serverSettings.clock = [this] { return time; };
    server = std::make_unique<SocketServer>(*engine, serverSettings);
  }

  void send(const sockdata& record) { ASSERT_TRUE(server->receive(1, &record, sizeof record)); }
  void wait(double seconds) {
    time += std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
  }
};

}  // namespace

TEST(SocketServer, RecordsSplitAnywhereAreTakenWhole) {
  std::vector<unsigned char> stream;
  for (const sockdata& record : {textRecord("load", "FRAMEPROBE"), numbersRecord("FRAMEPROBE", {0.0, 0.05, 0.0}),
                                 numbersRecord("FRAMEPROBE", {0.5, 0.05, 0.0})}) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    stream.insert(stream.end(), bytes, bytes + sizeof record);
  }
  for (const size_t piece :
       {size_t(1), size_t(7), size_t(100), size_t(8295), size_t(8296), size_t(8297), stream.size()}) {
    SCOPED_TRACE(piece);
    SocketlessServer s;
    for (size_t at = 0; at < stream.size(); at += piece)
      ASSERT_TRUE(s.server->receive(1, stream.data() + at, std::min(piece, stream.size() - at)));
    EXPECT_EQ(s.server->recordsHandled(), 3);
    EXPECT_EQ(s.engine->notesPlayed(), 2);
    // The stream went to the host's sink: both notes' first frames hold 1.
    while (!s.engine->streamIdle()) s.engine->renderStreamBlock();
    EXPECT_EQ(noteStarts(s.frames).size(), 2u);
  }
}

// On the server's own clock, with no sleeping: a note starts at the block
// the render had reached when its record arrived, the blocks whose time had
// fully come (80 frames at 8000 Hz, 10 ms each).
TEST(SocketServer, NotesStartWhereTheRenderIsWhenTheyArrive) {
  SocketlessServer s;
  s.send(textRecord("load", "FRAMEPROBE"));
  s.send(numbersRecord("FRAMEPROBE", {0.0, 0.05, 0.0}));  // opens the stream at 0
  s.wait(0.5);
  s.send(numbersRecord("FRAMEPROBE", {0.0, 0.05, 0.0}));  // 4000 frames are due
  s.wait(0.2549);
  s.send(numbersRecord("FRAMEPROBE", {0.0, 0.05, 0.0}));  // 6039 are due: 75 whole blocks
  s.send(numbersRecord("FRAMEPROBE", {0.1, 0.05, 0.0}));  // the same moment, 0.1 s on
  while (!s.engine->streamIdle()) s.engine->renderStreamBlock();
  EXPECT_EQ(noteStarts(s.frames), (std::vector<int>{0, 4000, 6000, 6800}));
}

TEST(SocketServer, MalformedOrCutRecordsEndOnlyTheirConnection) {
  SocketlessServer s;
  sockdata bad = numbersRecord("FRAMEPROBE", {});
  bad.n_args = 1025;
  const sockdata load = textRecord("load", "FRAMEPROBE");
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(s.server->receive(1, &bad, sizeof bad));
  EXPECT_FALSE(s.server->receive(1, &load, sizeof load));  // the connection has ended
  EXPECT_TRUE(s.server->receive(2, &load, sizeof load));
  EXPECT_TRUE(s.server->receive(3, &load, 10));
  s.server->hangUp(3);
  s.server->hangUp(2);  // between records: nothing to report
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("connection 1: malformed record: n_args 1025 is outside 0 to 1024; closing the connection"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("connection 3: closed inside a record (10 of 8296 bytes)"), std::string::npos) << err;
  EXPECT_EQ(err.find("connection 2: closed"), std::string::npos) << err;
  EXPECT_EQ(s.server->recordsHandled(), 1);
}

TEST(SocketServer, NumericRecordsWithBadCountsOrTableNumbersAreRefused) {
  const struct {
    sockdata record;
    const char* complaint;
  } cases[] = {
      {numbersRecord("NOSUCH", {}), "unknown command \"NOSUCH\""},
      {numbersRecord("gen", {}), "gen: give the slot, the routine number and the size"},
      {numbersRecord("gen", {1, 7, 1.5, 0, 1, 1}), "gen: the slot, routine number and size must be whole numbers"},
      {numbersRecord("gen", {1, 7, std::nan(""), 0, 1, 1}), "must be whole numbers"},
      {numbersRecord("gen", {1, 7, 3e9, 0, 1, 1}), "must be whole numbers"},
      {numbersRecord("gen", {1, 7, 1e9, 0, 1, 1}), "gen 7: table size 1000000000 is too large"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.complaint);
    SocketlessServer s;
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(s.server->receive(1, &c.record, sizeof c.record));
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(c.complaint), std::string::npos) << err;
  }
}
