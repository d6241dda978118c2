// The programs fed bad input, as a user, a client program or a fault would
// feed them. Every case runs the real vemora (or octify, hertzify) as a
// process with a time limit and checks that it neither crashes nor hangs,
// that it says what is wrong and where, and that no broken file is left:
// nothing under the output's name when nothing was rendered, no temporary,
// and a file already there under that name untouched.
//
// Scores and notes are files in tests/bad_inputs/ (one case per file, its
// expectations in its own comments, see tests/bad_inputs/README.md); socket
// records, the lookup tools and the faults are built here.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <link.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "SoundInput.h"
#include "SoundOutput.h"
#include "scorewire.h"
#include "support/TempFolder.h"
#include "support/ProgramRun.h"
#include "support/SocketRecords.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace programrun;

namespace {

const fs::path kCorpus = fs::path(VEMORA_SOURCE_DIR) / "tests" / "bad_inputs";
const std::string kVemora = VEMORA_BIN_DIR "/vemora";
const std::string kOctify = VEMORA_UTILS_DIR "/octify";
const std::string kHertzify = VEMORA_UTILS_DIR "/hertzify";

// Far beyond what any case takes, even in a sanitizer build.
constexpr double kCaseSeconds = 60.0;
// Socket number of the servers started here (port 1102 + it).
constexpr int kSocketNumber = 57;

// A shared library of the system that is no plug-in: it has none of the
// entries the engine looks for.
std::string systemLibrary() {
  void* handle = dlopen("libm.so.6", RTLD_NOW);
  link_map* map = nullptr;
  if (!handle || dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map) return {};
  return map->l_name;
}

// The files a case may name: inputs good and bad, a folder, a pipe, a
// read-only folder and plug-in files that are no plug-ins.
void makeFixtures(const fs::path& folder) {
  fs::create_directories(folder);
  writeSine(folder / "mono.wav", 1, 44100, 44100);
  writeSine(folder / "stereo.wav", 2, 44100, 44100);
  writeSine(folder / "rate48k.wav", 1, 48000, 4800);
  writeSine(folder / "wide.wav", 65, 44100, 100);
  const std::string whole = readFile(folder / "mono.wav");
  const size_t data = whole.find("data");
  // The header still promises a second of sound; 200 frames follow it.
  writeFile(folder / "truncated.wav", whole.substr(0, data + 8 + 400));
  writeFile(folder / "header-cut.wav", whole.substr(0, 20));
  std::string rateZero = whole;  // the fmt chunk's sampling rate, 12 bytes into it, set to 0
  std::fill_n(rateZero.begin() + long(whole.find("fmt ") + 12), 4, '\0');
  writeFile(folder / "rate0.wav", rateZero);
  writeFile(folder / "empty.wav", "");
  writeFile(folder / "words.wav", "These are words, not sound.\n");
  writeFile(folder / "plain.txt", "text\n");
  writeFile(folder / "unreadable.wav", whole);
  fs::permissions(folder / "unreadable.wav", fs::perms::none);
  fs::create_directory(folder / "folder.wav");
  mkfifo((folder / "pipe.wav").c_str(), 0644);
  fs::create_directory(folder / "readonly");
  fs::permissions(folder / "readonly", fs::perms::owner_read | fs::perms::owner_exec);
  fs::create_directory(folder / "plugins");
  writeFile(folder / "plugins" / "libNOTALIB.so", "This is text, not a shared library.\n");
  const std::string library = systemLibrary();
  if (!library.empty()) fs::copy_file(library, folder / "plugins" / "libNOENTRY.so");
}

std::string trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> result;
  for (std::string word; in >> word;) result.push_back(word);
  return result;
}

// One score of the corpus and what it must do. Its comments carry the
// expectations, one per line: "-- exit: N", "-- stderr: LINE" (repeated:
// the whole of standard error, line by line), "-- stderr-has: TEXT",
// "-- args: ..." (before the score), "-- command: ..." (instead of the
// score), "-- output: PATH" (default score.wav), "-- file-size-limit:
// BYTES", "-- unprivileged" (run as nobody when the tests run as root,
// where permissions do not bind), "-- no-stderr". {line} stands for the number of the line that
// ends in "-- @".
struct ScoreCase {
  std::string name;
  std::string score;
  std::optional<int> exit;
  std::vector<std::string> stderrLines, stderrHas;
  std::vector<std::string> args, command;
  std::string output = "score.wav";
  rlim_t fileSizeLimit = RLIM_INFINITY;
  bool unprivileged = false;
  bool quiet = false;   // nothing on standard error
  std::string problem;  // why the case itself is malformed
};

ScoreCase readCase(const fs::path& file) {
  ScoreCase c;
  c.name = fs::relative(file, kCorpus).string();
  c.score = readFile(file);
  std::vector<std::string> lines;
  std::istringstream in(c.score);
  int marked = 0;
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
    if (trim(line).ends_with("-- @")) marked = int(lines.size());
  }
  auto expand = [&](std::string text) {
    for (size_t at; (at = text.find("{line}")) != std::string::npos;) {
      if (marked == 0) c.problem = "{line} is used but no line ends in \"-- @\"";
      text.replace(at, 6, std::to_string(marked));
    }
    return text;
  };
  for (const std::string& line : lines) {
    if (!line.starts_with("-- ")) continue;
    const std::string body = trim(line.substr(3));
    if (body == "unprivileged") c.unprivileged = true;
    if (body == "no-stderr") c.quiet = true;
    const size_t colon = body.find(':');
    if (colon == std::string::npos) continue;
    const std::string key = body.substr(0, colon);
    const std::string value = trim(body.substr(colon + 1));
    if (key == "exit") {
      c.exit = std::stoi(value);
    } else if (key == "stderr") {
      c.stderrLines.push_back(expand(value));
    } else if (key == "stderr-has") {
      c.stderrHas.push_back(expand(value));
    } else if (key == "args") {
      c.args = words(value);
    } else if (key == "command") {
      c.command = words(value);
    } else if (key == "output") {
      c.output = value;
    } else if (key == "file-size-limit") {
      c.fileSizeLimit = rlim_t(std::stoull(value));
    }
  }
  if (!c.exit) c.problem = "no \"-- exit:\" line";
  if (c.stderrLines.empty() && c.stderrHas.empty() && !c.quiet) c.problem = "no message expected";
  return c;
}

std::vector<ScoreCase> readCorpus(const std::string& part) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(kCorpus / part))
    if (entry.path().extension() == ".lua") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  std::vector<ScoreCase> cases;
  for (const fs::path& file : files) cases.push_back(readCase(file));
  return cases;
}

bool readableSoundFile(const fs::path& path) {
  try {
    return vemora::openSoundInput(path.string())->frames() > 0;
  } catch (const std::exception&) {
    return false;
  }
}

class BadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    root = makeTempFolder("vemora-bad-input");
    // Others may pass through to the cases that run as nobody.
    fs::permissions(root, fs::perms::group_exec | fs::perms::others_exec, fs::perm_options::add);
  }

  // As root, whether nobody can run vemora from where it was built (a build
  // under /root cannot be reached): then permission cases run as nobody,
  // else they are skipped.
  bool nobodyCanRunVemora() {
    if (!privileged()) return false;
    Process::Options o = options(root, {kVemora, "--version"});
    o.asNobody = true;
    return run(o, kCaseSeconds).exitStatus == 0;
  }
  void TearDown() override { removeFolder(root); }

  Process::Options options(const fs::path& folder, std::vector<std::string> args) {
    Process::Options o;
    o.args = std::move(args);
    o.folder = folder;
    o.logs = root / ("log" + std::to_string(++logs));
    return o;
  }

  // Runs one case twice when it must write nothing: once with no file of
  // the output's name, once with one there that must stay as it was.
  void runCase(const ScoreCase& c, int number) {
    SCOPED_TRACE("tests/bad_inputs/" + c.name);
    ASSERT_TRUE(c.problem.empty()) << c.problem;
    const int expected = *c.exit;
    for (const bool existing : {false, true}) {
      if (existing && expected != 1) break;
      SCOPED_TRACE(existing ? "an earlier file of the output's name is there" : "no file of the output's name");
      const fs::path folder = root / ("case" + std::to_string(number) + (existing ? "b" : "a"));
      makeFixtures(folder);
      writeFile(folder / "score.lua", c.score);
      const fs::path output = folder / c.output;
      const std::string earlier = "an earlier take, to be left alone\n";
      if (existing) {
        if (!fs::is_directory(output.parent_path()) || fs::exists(output)) {
          removeFolder(folder);
          continue;  // no file can stand there
        }
        writeFile(output, earlier);
      }
      std::vector<std::string> args = {kVemora};
      if (c.command.empty()) {
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back("score.lua");
      } else {
        args.insert(args.end(), c.command.begin(), c.command.end());
      }
      Process::Options o = options(folder, args);
      o.fileSizeLimit = c.fileSizeLimit;
      if (c.unprivileged && privileged()) {
        o.asNobody = true;
        fs::permissions(folder, fs::perms::all);
      }
      const Outcome outcome = run(o, kCaseSeconds);
      expectNoCrashOrHang(outcome);
      EXPECT_EQ(outcome.exitStatus, expected) << outcome.err;
      if (c.quiet) {
        EXPECT_EQ(outcome.err, "");
      }
      if (!c.stderrLines.empty()) {
        std::string whole;
        for (const std::string& line : c.stderrLines) whole += line + "\n";
        EXPECT_EQ(outcome.err, whole);
      }
      for (const std::string& part : c.stderrHas)
        EXPECT_TRUE(contains(outcome.err, part)) << "expected \"" << part << "\" in:\n" << outcome.err;
      EXPECT_EQ(temporariesUnder(folder), std::vector<std::string>{});
      if (expected == 1 && existing) {
        EXPECT_EQ(readFile(output), earlier);
      } else if (expected == 1) {
        EXPECT_FALSE(fs::is_regular_file(output)) << output;
      } else {
        EXPECT_TRUE(readableSoundFile(output)) << output;
      }
      removeFolder(folder);
    }
  }

  void runCorpus(const std::string& part) {
    const std::vector<ScoreCase> cases = readCorpus(part);
    ASSERT_FALSE(cases.empty());
    const testing::TestResult& result = *testing::UnitTest::GetInstance()->current_test_info()->result();
    int hold = 0, skipped = 0, number = 0;
    const bool asNobody = nobodyCanRunVemora();
    for (const ScoreCase& c : cases) {
      if (c.unprivileged && privileged() && !asNobody) {
        ++skipped;
        continue;
      }
      const int failuresBefore = result.total_part_count();
      runCase(c, ++number);
      if (result.total_part_count() == failuresBefore) ++hold;
    }
    std::printf("tests/bad_inputs/%s: %zu cases, %d hold, %d skipped (they need an unprivileged user)\n", part.c_str(),
                cases.size(), hold, skipped);
    RecordProperty("cases", int(cases.size()));
    RecordProperty("hold", hold);
  }

  fs::path root;
  int logs = 0;
};

// ---------------------------------------------------------------------------
// Scores and notes.

TEST_F(BadInput, Scores) { runCorpus("scores"); }

TEST_F(BadInput, NotesTheInstrumentsRefuse) { runCorpus("notes"); }

// ---------------------------------------------------------------------------
// The lookup tools take any text: what is no number reads as 0.

struct ToolCase {
  const char* what;
  std::string program;
  std::vector<std::string> args;
  std::string out;  // all of standard output
};

std::string repeated(const std::string& line, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += line;
  return text;
}

TEST_F(BadInput, LookupTools) {
  const std::vector<std::string> tenThousandHz(10000, "440");
  const std::vector<std::string> tenThousandPch(10000, "8.09");
  const std::vector<ToolCase> cases = {
      {"no argument", kOctify, {}, "you must specify pitch in hz\n"},
      {"no argument", kHertzify, {}, "you must specify pitch in 8ve.pc form\n"},
      {"an empty argument", kOctify, {""}, "0.000000 = -inf\n"},
      {"an empty argument", kHertzify, {""}, "0.000000 = 1.021975\n"},
      {"words", kOctify, {"four", "forty"}, "0.000000 = -inf\n0.000000 = -inf\n"},
      {"a letter name", kHertzify, {"A4"}, "0.000000 = 1.021975\n"},
      {"an option", kHertzify, {"--help"}, "0.000000 = 1.021975\n"},
      {"a numeric prefix", kHertzify, {"8.09Hz"}, "8.090000 = 440.000000\n"},
      {"10,000 arguments", kOctify, tenThousandHz, repeated("440.000000 = 8.090000\n", 10000)},
      {"10,000 arguments", kHertzify, tenThousandPch, repeated("8.090000 = 440.000000\n", 10000)},
  };
  for (const ToolCase& c : cases) {
    SCOPED_TRACE(fs::path(c.program).filename().string() + ": " + c.what);
    std::vector<std::string> args = {c.program};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Outcome outcome = run(options(root, args), kCaseSeconds);
    expectNoCrashOrHang(outcome);
    EXPECT_EQ(outcome.exitStatus, 0);
    EXPECT_EQ(outcome.out, c.out);
    EXPECT_EQ(outcome.err, "");
  }
  // Numbers beyond any double, and 100,000 digits: one line each.
  const std::string digits(100000, '9');
  for (const std::string& program : {kOctify, kHertzify}) {
    SCOPED_TRACE(program + " with absurd numbers");
    const Outcome outcome = run(options(root, {program, "1e999", "-1e999", "nan", digits, "-0"}), kCaseSeconds);
    expectNoCrashOrHang(outcome);
    EXPECT_EQ(outcome.exitStatus, 0);
    EXPECT_EQ(std::count(outcome.out.begin(), outcome.out.end(), '\n'), 5) << outcome.out.substr(0, 200);
  }
}

// ---------------------------------------------------------------------------
// Socket records against the program in socket mode.

sockdata textRecord(const char* name, const char* text) {
  sockdata record = blankRecord(name, 1);
  std::strncpy(record.data.text[0], text, SCOREWIRE_TEXT_BYTES - 1);
  return record;
}

// An argprobe note: constants a on channel 0 and b on channel 1.
sockdata argprobeNote(double seconds, double a, double b) {
  sockdata record = blankRecord("argprobe", 4);
  const double p[] = {0.0, seconds, a, b};
  std::copy(std::begin(p), std::end(p), record.data.p);
  return record;
}

constexpr double kServedNoteSeconds = 0.05;

// Frames of a stereo sound file that hold a on channel 0 and b on channel 1.
int64_t framesHolding(const fs::path& path, float a, float b) {
  try {
    auto input = vemora::openSoundInput(path.string());
    if (input->channels() != 2) return -1;
    std::vector<float> samples(size_t(input->frames()) * 2);
    input->read(0, int(input->frames()), samples.data());
    int64_t count = 0;
    for (size_t f = 0; f < samples.size(); f += 2) count += samples[f] == a && samples[f + 1] == b;
    return count;
  } catch (const std::exception&) {
    return -1;
  }
}

// A server started as `vemora -i -n -s N` in a folder of its own, and
// connections to it.
class SocketSession {
 public:
  SocketSession(const fs::path& folder, Process::Options options) : folder(folder) {
    options.args = {kVemora, "-i", "-n", "-s", std::to_string(kSocketNumber)};
    options.folder = folder;
    server = std::make_unique<Process>(options);
    ready = waitFor(kCaseSeconds, [&] { return contains(server->out(), "serving score records"); });
  }

  int connect() { return clients.connect(); }
  void hangUp(int fd) { clients.hangUp(fd); }
  static bool send(int fd, const std::string& bytes) { return sendAll(fd, bytes); }

  // Whether the server closed the connection (reads nothing but the end).
  static bool closedByServer(int fd) {
    timeval wait{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    char byte;
    return recv(fd, &byte, 1, 0) == 0;
  }

  bool stderrHas(const std::string& text, double seconds = kCaseSeconds) {
    return waitFor(seconds, [&] { return contains(server->err(), text); });
  }

  // Proves that the server still reads and runs records: an unknown
  // command on a fresh connection, whose complaint must appear.
  bool answers() {
    const std::string name = "ping" + std::to_string(++pings);
    const int fd = connect();
    const bool sent = fd >= 0 && send(fd, bytesOf(blankRecord(name.c_str(), 0)));
    if (fd >= 0) hangUp(fd);
    return sent && stderrHas("unknown command \"" + name + "\"");
  }

  fs::path folder;
  std::unique_ptr<Process> server;
  bool ready = false;
  LoopbackClients clients{SCOREWIRE_BASE_PORT + kSocketNumber};  // closed before the server is ended
  int pings = 0;
};

struct RecordCase {
  const char* what;
  std::vector<sockdata> records;  // sent back to back on one connection
  std::string complaint;          // the server's message
  bool closes;                    // whether the server closes the connection
};

TEST_F(BadInput, SocketRecords) {
  SocketSession session(root, options(root, {}));
  ASSERT_TRUE(session.ready) << session.server->err();

  auto named = [](const char* name, int nArgs, const std::function<void(sockdata&)>& fill = {}) {
    sockdata record = blankRecord(name, nArgs);
    if (fill) fill(record);
    return record;
  };
  const std::vector<RecordCase> cases = {
      {"an unterminated name",
       {named("", 0, [](sockdata& r) { std::memset(r.name, 'X', sizeof r.name); })},
       "malformed record: the command name is not terminated",
       true},
      {"an empty name", {named("", 0)}, "malformed record: the command name is empty", true},
      {"n_args -1", {named("argprobe", -1)}, "n_args -1 is outside 0 to 1024", true},
      {"n_args 1025", {named("argprobe", 1025)}, "n_args 1025 is outside 0 to 1024", true},
      {"n_args 2^31-1", {named("argprobe", 2147483647)}, "n_args 2147483647 is outside 0 to 1024", true},
      {"n_args -2^31", {named("gen", int(0x80000000u))}, "n_args -2147483648 is outside 0 to 1024", true},
      {"17 texts", {named("set_option", 17)}, "n_args 17 is outside 0 to 16", true},
      {"n_args 0 for gen", {named("gen", 0)}, "gen: give the slot, the routine number and the size", false},
      {"n_args 0 for a text command", {named("load", 0)}, "load: give at least one text argument", false},
      {"an unterminated text",
       {named("rtinput", 1, [](sockdata& r) { std::memset(r.data.text[0], 'a', SCOREWIRE_TEXT_BYTES); })},
       "text argument 0 is not terminated",
       true},
      {"an unterminated second text",
       {named("set_option", 2,
              [](sockdata& r) {
                std::strcpy(r.data.text[0], "sr=44100");
                std::memset(r.data.text[1], 'b', SCOREWIRE_TEXT_BYTES);
              })},
       "text argument 1 is not terminated",
       true},
      {"a text command given numbers",
       {named("set_option", 1, [](sockdata& r) { r.data.p[0] = 44100.0; })},
       "set_option: \"\" is not of the form name=value",
       false},
      {"a plug-in name with a path",
       {named("load", 1, [](sockdata& r) { std::strcpy(r.data.text[0], "../PAN"); })},
       "is not a plug-in name",
       false},
      {"an unknown command", {named("NOSUCH", 3)}, "unknown command \"NOSUCH\"", false},
      {"a table of 10^9 entries",
       {named("gen", 5,
              [](sockdata& r) {
                const double p[] = {1, 7, 1e9, 0, 1};
                std::copy(std::begin(p), std::end(p), r.data.p);
              })},
       "gen 7: table size 1000000000 is too large",
       false},
      {"a table of NaN entries",
       {named("gen", 5,
              [](sockdata& r) {
                const double p[] = {1, 7, std::nan(""), 0, 1};
                std::copy(std::begin(p), std::end(p), r.data.p);
              })},
       "gen: the slot, routine number and size must be whole numbers",
       false},
  };
  int afterCount = 0;
  for (const RecordCase& c : cases) {
    SCOPED_TRACE(c.what);
    const int fd = session.connect();
    ASSERT_GE(fd, 0);
    std::string bytes;
    for (const sockdata& record : c.records) bytes += bytesOf(record);
    EXPECT_TRUE(SocketSession::send(fd, bytes));
    EXPECT_TRUE(session.stderrHas(c.complaint)) << session.server->err();
    // Every complaint names its connection.
    EXPECT_TRUE(contains(session.server->err(), "connection ")) << session.server->err();
    if (c.closes) {
      EXPECT_TRUE(SocketSession::closedByServer(fd));
    } else {
      // The connection goes on: a record after the bad one is run.
      const std::string after = "after" + std::to_string(++afterCount);
      EXPECT_TRUE(SocketSession::send(fd, bytesOf(blankRecord(after.c_str(), 0))));
      EXPECT_TRUE(session.stderrHas("unknown command \"" + after + "\""));
    }
    session.hangUp(fd);
    EXPECT_TRUE(session.answers());
  }

  {
    SCOPED_TRACE("a partial record, then a close");
    const int fd = session.connect();
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(SocketSession::send(fd, bytesOf(blankRecord("argprobe", 3)).substr(0, 1000)));
    session.hangUp(fd);
    EXPECT_TRUE(session.stderrHas("closed inside a record (1000 of 8296 bytes)"));
    EXPECT_TRUE(session.answers());
  }
  {
    SCOPED_TRACE("10 MB of random bytes");
    std::mt19937 random(10);
    std::string noise(10 << 20, '\0');
    for (char& byte : noise) byte = char(random());
    // Each connection lasts until the server finds its first record bad;
    // the rest of the bytes go on new connections.
    size_t sent = 0;
    int connections = 0;
    while (sent < noise.size() && connections < 5000) {
      const int fd = session.connect();
      ASSERT_GE(fd, 0);
      ++connections;
      for (;;) {
        const size_t n = std::min<size_t>(64 << 10, noise.size() - sent);
        if (n == 0 || !SocketSession::send(fd, noise.substr(sent, n))) break;
        sent += n;
      }
      session.hangUp(fd);
    }
    EXPECT_EQ(sent, noise.size());
    EXPECT_TRUE(session.answers());
  }
  {
    SCOPED_TRACE("a connection that sends nothing and one that stops inside a record, while a third plays a note");
    const int silent = session.connect();
    const int stalled = session.connect();
    const int busy = session.connect();
    ASSERT_GE(silent, 0);
    ASSERT_GE(stalled, 0);
    ASSERT_GE(busy, 0);
    EXPECT_TRUE(SocketSession::send(stalled, bytesOf(blankRecord("argprobe", 3)).substr(0, 4000)));
    EXPECT_TRUE(SocketSession::send(
        busy, bytesOf(textRecord("load", "argprobe")) + bytesOf(argprobeNote(kServedNoteSeconds, 0.125, 0.375))));
    EXPECT_TRUE(session.answers());
    session.hangUp(silent);
    session.hangUp(stalled);
    session.hangUp(busy);
  }
  {
    SCOPED_TRACE("50 connections opened and closed");
    for (int i = 0; i < 50; ++i) {
      const int fd = session.connect();
      ASSERT_GE(fd, 0);
      session.hangUp(fd);
    }
    EXPECT_TRUE(session.answers());
  }
  session.server->signal(SIGTERM);
  const Outcome outcome = session.server->wait(kCaseSeconds);
  expectNoCrashOrHang(outcome);
  EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
  EXPECT_EQ(temporariesUnder(root), std::vector<std::string>{});
  // The note sent beside the silent and the stalled connections was played.
  const fs::path output = root / ("vemora-socket-" + std::to_string(kSocketNumber) + ".wav");
  EXPECT_EQ(framesHolding(output, 0.125f, 0.375f), int64_t(std::lround(kServedNoteSeconds * 44100)));
}

// ---------------------------------------------------------------------------
// Faults.

// A score whose render takes minutes: long enough to be caught in the middle.
constexpr const char* kLongScore =
    "rtinput('mono.wav')\n"
    "load('PAN')\n"
    "for i = 0, 15 do PAN(i, 0, 3600, 0.1, 0, 0, 0.5) end\n";

TEST_F(BadInput, SignalInTheMiddleOfARenderLeavesNoFile) {
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    for (const bool existing : {false, true}) {
      SCOPED_TRACE(std::string(strsignal(signal)) + (existing ? ", with an earlier file there" : ""));
      const fs::path folder = root / ("render-" + std::to_string(signal) + (existing ? "b" : "a"));
      makeFixtures(folder);
      writeFile(folder / "score.lua", kLongScore);
      const std::string earlier = "an earlier take\n";
      if (existing) writeFile(folder / "score.wav", earlier);
      Process render(options(folder, {kVemora, "score.lua"}));
      // The temporary appears when the render begins.
      ASSERT_TRUE(waitFor(kCaseSeconds, [&] { return !temporariesUnder(folder).empty(); })) << render.err();
      sleepSeconds(0.2);
      render.signal(signal);
      const Outcome outcome = render.wait(kCaseSeconds);
      expectNoCrashOrHang(outcome);
      EXPECT_EQ(outcome.exitStatus, 128 + signal);
      const char* name = signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "SIGHUP";
      EXPECT_EQ(outcome.err,
                std::string("vemora: interrupted by ") + name + "; the render was stopped and nothing written\n");
      EXPECT_EQ(temporariesUnder(folder), std::vector<std::string>{});
      if (existing) {
        EXPECT_EQ(readFile(folder / "score.wav"), earlier);
      } else {
        EXPECT_FALSE(fs::exists(folder / "score.wav"));
      }
      removeFolder(folder);
    }
  }
}

// Before the render nothing is on disk, and the signals keep their usual
// effect: a score stuck in a loop still stops at once.
TEST_F(BadInput, SignalWhileTheScoreRunsEndsItAtOnce) {
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(strsignal(signal));
    const fs::path folder = root / ("loop-" + std::to_string(signal));
    fs::create_directories(folder);
    writeFile(folder / "score.lua", "load('argprobe')\nargprobe(0, 1, 0.5)\nwhile true do end\n");
    Process score(options(folder, {kVemora, "score.lua"}));
    sleepSeconds(0.5);
    score.signal(signal);
    const Outcome outcome = score.wait(kCaseSeconds);
    EXPECT_FALSE(outcome.hung);
    EXPECT_EQ(outcome.signal, signal);
    EXPECT_EQ(std::vector<std::string>{"score.lua"}, [&] {
      std::vector<std::string> names;
      for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
      return names;
    }());
  }
}

// Frames of a WAV file whose header agrees with its length, or -1.
int64_t framesOfWellFormedWav(const fs::path& path, int channels, int bytesPerSample) {
  const std::string bytes = readFile(path);
  auto word = [&](size_t at) {
    uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
  };
  if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || word(4) != bytes.size() - 8) return -1;
  for (size_t at = 12; at + 8 <= bytes.size();) {
    const uint32_t size = word(at + 4);
    if (bytes.compare(at, 4, "data") == 0) {
      if (at + 8 + size != bytes.size() || size % (channels * bytesPerSample) != 0) return -1;
      return size / (channels * bytesPerSample);
    }
    at += 8 + size + (size & 1);
  }
  return -1;
}

// A stop in socket mode finishes the file: every frame of the notes sent,
// under a header that says so.
TEST_F(BadInput, SignalInSocketModeFinishesTheFile) {
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(strsignal(signal));
    const fs::path folder = root / ("socket-" + std::to_string(signal));
    fs::create_directories(folder);
    SocketSession session(folder, options(folder, {}));
    ASSERT_TRUE(session.ready) << session.server->err();
    const int fd = session.connect();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SocketSession::send(fd, bytesOf(textRecord("load", "argprobe")) +
                                            bytesOf(textRecord("rtoutput", "take.wav")) +
                                            bytesOf(argprobeNote(0.3, 0.25, 0.5))));
    // Stopped as soon as the note sounds (it opens the file): it plays to its end.
    ASSERT_TRUE(waitFor(kCaseSeconds, [&] { return !temporariesUnder(folder).empty(); }));
    session.server->signal(signal);
    const Outcome outcome = session.server->wait(kCaseSeconds);
    expectNoCrashOrHang(outcome);
    EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
    EXPECT_TRUE(contains(outcome.out, "wrote " + (folder / "take.wav").string())) << outcome.out;
    EXPECT_EQ(temporariesUnder(folder), std::vector<std::string>{});
    const int64_t frames = framesOfWellFormedWav(folder / "take.wav", 2, 4);
    ASSERT_GT(frames, 0) << "the header does not match the file";
    EXPECT_EQ(vemora::openSoundInput((folder / "take.wav").string())->frames(), frames);
    // The note was stopped as it began: all its 0.3 s are there.
    EXPECT_EQ(framesHolding(folder / "take.wav", 0.25f, 0.5f), 13230);
  }
}

}  // namespace
