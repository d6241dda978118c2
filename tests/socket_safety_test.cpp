// Socket mode against clients that are careless or hostile: the real
// vemora program serves records over loopback while the tests check that
// paths stay inside the served folder, that the ceilings hold, that a stop
// loses nothing already sent, that running out of descriptors neither spins
// nor stops the service, and that a session's file can be read even when
// the process is killed. What depends on the server's pacing is tested on
// its own clock, in socket_server_test.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "SoundInput.h"
#include "SoundOutput.h"
#include "scorewire.h"
#include "support/ProgramRun.h"
#include "support/SocketRecords.h"

namespace fs = std::filesystem;
using namespace programrun;

namespace {

const std::string kVemora = VEMORA_BIN_DIR "/vemora";
constexpr int kSocketNumber = 63;
constexpr double kLimit = 60.0;  // seconds any wait may take, sanitizers included
constexpr int kRate = 44100;

std::string texts(const char* name, const std::vector<std::string>& values) {
  sockdata record = blankRecord(name, int(values.size()));
  for (size_t i = 0; i < values.size(); ++i)
    std::strncpy(record.data.text[i], values[i].c_str(), SCOREWIRE_TEXT_BYTES - 1);
  return bytesOf(record);
}

std::string numbers(const char* name, const std::vector<double>& values) {
  sockdata record = blankRecord(name, int(values.size()));
  std::copy(values.begin(), values.end(), record.data.p);
  return bytesOf(record);
}

// An argprobe note: the constant a on channel 0 and b on channel 1.
std::string note(double start, double seconds, double a, double b) {
  return numbers("argprobe", {start, seconds, a, b});
}

// The program in socket mode, started in a folder with its output and
// messages going to files there.
class Server {
 public:
  explicit Server(const fs::path& folder, const std::vector<std::string>& extraArgs = {},
                  rlim_t descriptorLimit = RLIM_INFINITY)
      : process(options(folder, extraArgs, descriptorLimit)), clients(SCOREWIRE_BASE_PORT + kSocketNumber) {
    ready = waitFor(kLimit, [&] { return contains(out(), "serving score records") || process.exited(); });
    ready = ready && !process.exited();
  }

  ~Server() {
    // In a sanitizer build a fault the program survived still shows here.
    const std::string messages = err();
    for (const char* report : {"AddressSanitizer", "LeakSanitizer", "UndefinedBehaviorSanitizer", "runtime error:"})
      EXPECT_FALSE(contains(messages, report)) << messages;
  }

  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  std::string out() const { return process.out(); }
  std::string err() const { return process.err(); }
  void signal(int number) const { process.signal(number); }

  bool errHas(const std::string& text, double seconds = kLimit) const {
    return waitFor(seconds, [&] { return contains(err(), text); });
  }

  int connect() { return clients.connect(); }
  void hangUp(int fd) { clients.hangUp(fd); }
  static bool send(int fd, const std::string& bytes) { return sendAll(fd, bytes); }

  // Waits for the program to end by itself; its exit status, or -1.
  int waitExit(double seconds = kLimit) {
    const Outcome outcome = process.wait(seconds);
    return outcome.hung ? -1 : outcome.exitStatus;
  }

  // Processor time the program has used, in seconds (user + system).
  double cpuSeconds() const {
    const std::string stat = readFile("/proc/" + std::to_string(process.id()) + "/stat");
    // The fields after the command name, which is in parentheses.
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
      if (i == 14) utime = std::stoll(field);
      if (i == 15) stime = std::stoll(field);
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
  }

  // Whether the program is stopped (SIGSTOP has taken effect).
  bool stopped() const {
    const std::string stat = readFile("/proc/" + std::to_string(process.id()) + "/stat");
    const size_t paren = stat.rfind(')');
    return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'T';
  }

  bool ready = false;

 private:
  static Process::Options options(const fs::path& folder, const std::vector<std::string>& extraArgs,
                                  rlim_t descriptorLimit) {
    Process::Options o;
    o.args = {kVemora, "-i", "-n", "-s", std::to_string(kSocketNumber)};
    o.args.insert(o.args.end(), extraArgs.begin(), extraArgs.end());
    o.folder = folder;
    o.logs = folder / "server";  // server.out and server.err
    o.descriptorLimit = descriptorLimit;
    return o;
  }

  Process process;
  LoopbackClients clients;  // closed before the program is ended
};

struct Sound {
  int channels = 0;
  double rate = 0;
  std::vector<float> samples;  // interleaved
  int64_t frames() const { return channels ? int64_t(samples.size()) / channels : 0; }
};

std::optional<Sound> readSound(const fs::path& path) {
  try {
    auto input = vemora::openSoundInput(path.string());
    Sound sound;
    sound.channels = input->channels();
    sound.rate = input->sampleRate();
    sound.samples.resize(size_t(input->frames()) * size_t(sound.channels));
    if (input->frames() > 0) input->read(0, int(input->frames()), sound.samples.data());
    return sound;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// Frames holding a on channel 0 and b on channel 1.
int64_t framesHolding(const Sound& sound, float a, float b) {
  int64_t count = 0;
  for (int64_t f = 0; f < sound.frames(); ++f)
    count += sound.samples[size_t(f * sound.channels)] == a && sound.samples[size_t(f * sound.channels + 1)] == b;
  return count;
}

// The program refuses the option's value at the start: one message, exit 1.
void expectRefusedAtTheStart(const fs::path& folder, const std::vector<std::string>& args) {
  SCOPED_TRACE(args[0] + " " + args[1]);
  Server server(folder, args);
  EXPECT_FALSE(server.ready);
  EXPECT_EQ(server.waitExit(), 1);
  const std::string err = server.err();
  EXPECT_TRUE(contains(err, "vemora: " + args[0])) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

struct Ended {
  int status = -1;
  std::string out, err;
};

// A whole session in a folder of its own: the records on one connection,
// then SIGTERM once the server has run them (a record of no command after
// them is complained about: one more line on standard error).
Ended playSession(const fs::path& folder, const std::vector<std::string>& args, const std::string& records) {
  fs::create_directories(folder);
  Server server(folder, args);
  EXPECT_TRUE(server.ready) << server.err();
  const int fd = server.connect();
  EXPECT_TRUE(fd >= 0 && Server::send(fd, records + numbers("records-sent", {})));
  EXPECT_TRUE(server.errHas("unknown command \"records-sent\"")) << server.err();
  server.signal(SIGTERM);
  Ended ended;
  ended.status = server.waitExit();
  ended.out = server.out();
  ended.err = server.err();
  return ended;
}

const std::string kDefaultOutput = "vemora-socket-" + std::to_string(kSocketNumber) + ".wav";

class SocketSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root = fs::temp_directory_path() / ("vemora-socket-safety-" + std::to_string(getpid()) + "-" + info->name());
    fs::remove_all(root);
    fs::create_directories(root);
  }
  void TearDown() override { fs::remove_all(root); }

  fs::path root;
};

}  // namespace

// Killed without warning, the session still leaves a temporary file whose
// header counts the frames rendered up to its last update. (How often the
// header is brought up to date, on the server's clock, is tested in
// socket_server_test.)
TEST_F(SocketSafety, SessionFileIsReadableAfterTheProcessIsKilled) {
  Server server(root);
  ASSERT_TRUE(server.ready) << server.err();
  const int fd = server.connect();
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(Server::send(fd, texts("load", {"argprobe"}) + texts("rtoutput", {"take.wav"}) + note(0, 60, 0.25, 0.5)));
  const auto temporary = [&]() -> std::optional<fs::path> {
    for (const auto& entry : fs::directory_iterator(root))
      if (contains(entry.path().filename().string(), "take.wav.part-")) return entry.path();
    return std::nullopt;
  };
  // Read under a name that says WAV; the bytes are the temporary's.
  const auto framesOfTheNote = [&](const fs::path& copy) -> int64_t {
    const std::optional<fs::path> path = temporary();
    if (!path) return -1;
    fs::copy_file(*path, copy, fs::copy_options::overwrite_existing);
    const std::optional<Sound> sound = readSound(copy);
    return sound && sound->channels == 2 ? framesHolding(*sound, 0.25f, 0.5f) : -1;
  };
  // The running session's file, as it stands, comes to hold a second.
  int64_t before = -1;
  ASSERT_TRUE(waitFor(kLimit, [&] { return (before = framesOfTheNote(root / "running.wav")) >= kRate; }))
      << before << "\n"
      << server.err();
  server.signal(SIGKILL);
  server.waitExit();
  ASSERT_TRUE(temporary());
  EXPECT_GE(framesOfTheNote(root / "killed.wav"), before) << "the temporary is not a readable sound file";
}

// Records may name only files inside the served folder: absolute paths,
// ".." and symbolic links that lead out are refused, with the connection,
// the record and the path named, and the connection goes on.
TEST_F(SocketSafety, PathsOutsideTheServedFolderAreRefused) {
  const fs::path served = root / "served";
  const fs::path outside = root / "outside";
  fs::create_directories(served / "sub");
  fs::create_directories(outside);
  const std::vector<float> second(size_t(kRate), 0.25f);
  for (const fs::path& path : {outside / "secret.wav", served / "sub" / "in.wav"}) {
    vemora::SoundFileWriter writer(path.string(), vemora::outputFormatFor(path.string(), ""), 1, kRate);
    writer.write(second.data(), kRate);
    writer.commit();
  }
  fs::create_symlink(outside / "secret.wav", served / "link.wav");
  fs::create_symlink(outside, served / "away");
  fs::create_symlink(served / "sub" / "in.wav", served / "near.wav");  // stays inside: allowed

  Server server(served);
  ASSERT_TRUE(server.ready) << server.err();
  const int fd = server.connect();
  ASSERT_GE(fd, 0);
  const std::vector<std::string> refusedPaths = {(outside / "secret.wav").string(),
                                                 "../outside/secret.wav",
                                                 "sub/../../outside/secret.wav",
                                                 "link.wav",
                                                 "away/secret.wav",
                                                 "away/new.wav",
                                                 "../x\n.wav"};
  std::string records = texts("load", {"argprobe"});
  std::vector<std::string> expected;
  for (const char* command : {"rtinput", "rtoutput"}) {
    for (const std::string& path : refusedPaths) {
      records += texts(command, {path});
      std::string shown = path;
      if (const size_t newline = shown.find('\n'); newline != std::string::npos) shown.replace(newline, 1, "\\n");
      expected.push_back("vemora: connection 1: record " + std::to_string(expected.size() + 2) + ": " + command +
                         " \"" + shown + "\" refused");
    }
  }
  ASSERT_TRUE(Server::send(fd, records));
  // Paths inside are taken, through a link that stays inside too.
  ASSERT_TRUE(Server::send(
      fd, texts("rtinput", {"near.wav"}) + texts("rtoutput", {"sub/take.wav"}) + note(0, 0.1, 0.125, 0.375)));
  // The note, the last record, opens the session's file.
  EXPECT_TRUE(waitFor(kLimit, [&] {
    for (const auto& entry : fs::directory_iterator(served / "sub"))
      if (contains(entry.path().filename().string(), "take.wav.part-")) return true;
    return false;
  }));
  server.signal(SIGTERM);
  EXPECT_EQ(server.waitExit(), 0);
  const std::string err = server.err();
  for (const std::string& line : expected) EXPECT_TRUE(contains(err, line)) << line << "\n" << err;
  // Each refusal is one line: the newline in the path came out escaped.
  EXPECT_EQ(countOf(err, "refused"), 2 * refusedPaths.size()) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), std::ptrdiff_t(2 * refusedPaths.size())) << err;
  EXPECT_TRUE(contains(server.out(), "wrote " + (served / "sub" / "take.wav").string())) << server.out();
  const std::optional<Sound> take = readSound(served / "sub" / "take.wav");
  ASSERT_TRUE(take);
  EXPECT_EQ(framesHolding(*take, 0.125f, 0.375f), int64_t(0.1 * kRate));
  // Nothing was written outside, nor under the refused names.
  std::vector<std::string> outsideNames;
  for (const auto& entry : fs::directory_iterator(outside)) outsideNames.push_back(entry.path().filename());
  EXPECT_EQ(outsideNames, std::vector<std::string>{"secret.wav"});
  EXPECT_TRUE(fs::is_symlink(served / "link.wav"));
}

// The start line the client library runs through a shell gives the socket
// number as -o N: it serves as -s N does.
TEST_F(SocketSafety, ShellStartLineWithMinusOServes) {
  Process::Options o;
  o.args = {kVemora, "-i", "-n", "-c", "-o", std::to_string(kSocketNumber)};
  o.folder = root;
  o.logs = root / "server";
  Process process(o);
  ASSERT_TRUE(waitFor(kLimit, [&] { return contains(process.out(), "serving score records") || process.exited(); }))
      << process.err();
  EXPECT_TRUE(contains(process.out(), "port " + std::to_string(SCOREWIRE_BASE_PORT + kSocketNumber))) << process.out();
  LoopbackClients clients(SCOREWIRE_BASE_PORT + kSocketNumber);
  const int fd = clients.connect();
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(sendAll(fd, numbers("ping", {})));
  EXPECT_TRUE(waitFor(kLimit, [&] { return contains(process.err(), "unknown command \"ping\""); })) << process.err();
  clients.hangUp(fd);
  process.signal(SIGTERM);
  const Outcome outcome = process.wait(kLimit);
  EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
  EXPECT_TRUE(contains(outcome.err, "vemora: no note was played; nothing written\n")) << outcome.err;
}

// Outside the client library's start line (-c), -o names the session's file
// in socket mode as it does for a render.
TEST_F(SocketSafety, MinusONamesTheFileOutsideTheStartLine) {
  const Ended ended =
      playSession(root / "o", {"-o", "take.wav"}, texts("load", {"argprobe"}) + note(0, 0.05, 0.25, 0.5));
  EXPECT_EQ(ended.status, 0) << ended.err;
  EXPECT_TRUE(contains(ended.out, "/o/take.wav (")) << ended.out;
  EXPECT_TRUE(contains(ended.out, ", 1 note played, 0 refused")) << ended.out;
  EXPECT_TRUE(fs::exists(root / "o" / "take.wav"));
}

// --root serves another folder than the current one: records' relative
// paths resolve there, and the operator's own --output stays where it was.
TEST_F(SocketSafety, RootOptionChoosesTheServedFolder) {
  fs::create_directories(root / "served");
  const Ended ended = playSession(root, {"--root", "served", "--output", "mine.wav"},
                                  texts("load", {"argprobe"}) + texts("rtoutput", {"../mine.wav"}) +
                                      texts("rtoutput", {"take.wav"}) + note(0, 0.05, 0.25, 0.5));
  EXPECT_EQ(ended.status, 0);
  EXPECT_TRUE(contains(ended.err, "connection 1: record 2: rtoutput \"../mine.wav\" refused")) << ended.err;
  EXPECT_TRUE(fs::exists(root / "served" / "take.wav")) << ended.err;
  EXPECT_FALSE(fs::exists(root / "mine.wav"));

  const std::string noFolder = (root / "no-such-folder").string();
  const std::string file = (root / "served" / "take.wav").string();
  for (const auto& [given, reason] : {std::pair{noFolder, std::string("No such file or directory")},
                                      std::pair{file, std::string("it is not a folder")}}) {
    Server refused(root, {"--root", given});
    EXPECT_FALSE(refused.ready);
    EXPECT_EQ(refused.waitExit(), 1);
    EXPECT_EQ(refused.err(), "vemora: the folder \"" + given + "\" cannot be served: " + reason + "\n");
  }
}

// The session ends by itself at its length: one message, the file kept,
// holding exactly that much.
TEST_F(SocketSafety, SessionEndsAtItsLength) {
  Server server(root, {"--max-session-seconds", "1.5"});
  ASSERT_TRUE(server.ready) << server.err();
  const int fd = server.connect();
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(Server::send(fd, texts("load", {"argprobe"}) + note(0, 10, 0.25, 0.5)));
  EXPECT_EQ(server.waitExit(), 0) << server.err();
  const std::string err = server.err();
  EXPECT_EQ(countOf(err, "the session reached its limit of 1.5 s of output (--max-session-seconds)"), 1u) << err;
  const std::optional<Sound> sound = readSound(root / kDefaultOutput);
  ASSERT_TRUE(sound) << err;
  EXPECT_EQ(sound->frames(), int64_t(1.5 * kRate));
  EXPECT_EQ(framesHolding(*sound, 0.25f, 0.5f), int64_t(1.5 * kRate));

  // No length at all is not an option: a positive number only.
  for (const char* bad : {"0", "-5", "nan", "inf", "1e12", "six"})
    expectRefusedAtTheStart(root, {"--max-session-seconds", bad});
}

// set_option may not raise the rate or the channels beyond the ceilings;
// the operator may move them.
TEST_F(SocketSafety, RateAndChannelsHaveCeilings) {
  const Ended capped = playSession(root / "default", {},
                                   texts("set_option", {"sr=192001"}) + texts("set_option", {"channels=9"}) +
                                       texts("set_option", {"sr=99999999999999999999"}) +
                                       texts("set_option", {"sr=96000", "channels=8"}) + texts("load", {"argprobe"}) +
                                       note(0, 0.05, 0.25, 0.5));
  EXPECT_EQ(capped.status, 0);
  EXPECT_TRUE(contains(capped.err,
                       "connection 1: record 1: set_option \"sr=192001\" refused: a socket session's "
                       "sampling rate is at most 192000 Hz"))
      << capped.err;
  EXPECT_TRUE(contains(capped.err,
                       "connection 1: record 2: set_option \"channels=9\" refused: a socket session "
                       "has at most 8 channels"))
      << capped.err;
  EXPECT_TRUE(contains(capped.err, "connection 1: record 3: set_option \"sr=99999999999999999999\" refused"))
      << capped.err;
  std::optional<Sound> sound = readSound(root / "default" / kDefaultOutput);
  ASSERT_TRUE(sound) << capped.err;
  EXPECT_EQ(sound->rate, 96000);
  EXPECT_EQ(sound->channels, 8);

  const Ended raised = playSession(
      root / "raised", {"--max-rate", "384000", "--max-channels", "16"},
      texts("set_option", {"sr=384000", "channels=16"}) + texts("load", {"argprobe"}) + note(0, 0.05, 0.25, 0.5));
  EXPECT_EQ(raised.status, 0);
  EXPECT_FALSE(contains(raised.err, "refused")) << raised.err;
  sound = readSound(root / "raised" / kDefaultOutput);
  ASSERT_TRUE(sound) << raised.err;
  EXPECT_EQ(sound->rate, 384000);
  EXPECT_EQ(sound->channels, 16);

  for (const char* bad : {"100", "768001", "fast"}) expectRefusedAtTheStart(root, {"--max-rate", bad});
  for (const char* bad : {"0", "65", "many"}) expectRefusedAtTheStart(root, {"--max-channels", bad});
}

// Records a client wrote before the stop are run before the session ends:
// on an accepted connection and on one still waiting to be accepted.
TEST_F(SocketSafety, RecordsSentBeforeTheStopArePlayed) {
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(strsignal(signal));
    const fs::path folder = root / std::to_string(signal);
    fs::create_directories(folder);
    Server server(folder);
    ASSERT_TRUE(server.ready) << server.err();
    const int accepted = server.connect();
    ASSERT_GE(accepted, 0);
    ASSERT_TRUE(Server::send(accepted, texts("load", {"argprobe"}) + numbers("ping", {})));
    ASSERT_TRUE(server.errHas("unknown command \"ping\""));
    // Held still, the server cannot take the records as they come: they
    // wait in the system, and the stop is the first thing it sees.
    server.signal(SIGSTOP);
    ASSERT_TRUE(waitFor(kLimit, [&] { return server.stopped(); }));
    ASSERT_TRUE(Server::send(accepted, note(0, 0.1, 0.25, 0.5)));
    const int waiting = server.connect();
    ASSERT_GE(waiting, 0);
    ASSERT_TRUE(Server::send(waiting, note(0.2, 0.1, 0.125, 0.375) + note(0.4, 0.1, 0.0625, 0.375)));
    server.signal(signal);  // pending from now on: it comes first when the server goes on
    server.signal(SIGCONT);
    EXPECT_EQ(server.waitExit(), 0) << server.err();
    EXPECT_TRUE(contains(server.out(), "3 notes played")) << server.out();
    const std::optional<Sound> sound = readSound(folder / kDefaultOutput);
    ASSERT_TRUE(sound) << server.err();
    EXPECT_EQ(framesHolding(*sound, 0.25f, 0.5f), int64_t(0.1 * kRate));
    EXPECT_EQ(framesHolding(*sound, 0.125f, 0.375f), int64_t(0.1 * kRate));
    EXPECT_EQ(framesHolding(*sound, 0.0625f, 0.375f), int64_t(0.1 * kRate));
  }
}

// Out of descriptors, the server neither spins on the connections it
// cannot take nor stops serving the ones it has; it says so once, and a
// waiting connection is taken as soon as one closes.
TEST_F(SocketSafety, RunningOutOfDescriptorsNeitherSpinsNorStopsService) {
  Server server(root, {}, 24);
  ASSERT_TRUE(server.ready) << server.err();
  std::vector<int> served;
  int waiting = -1;
  for (int i = 0; i < 64 && waiting < 0; ++i) {
    const int fd = server.connect();
    ASSERT_GE(fd, 0);
    const std::string name = "ping" + std::to_string(i);
    ASSERT_TRUE(Server::send(fd, numbers(name.c_str(), {})));
    // A record that waits seconds unanswered is on a connection not taken.
    waitFor(5.0, [&] {
      const std::string err = server.err();
      return contains(err, "unknown command \"" + name + "\"") || contains(err, "no file descriptor is free");
    });
    if (contains(server.err(), "unknown command \"" + name + "\""))
      served.push_back(fd);
    else
      waiting = fd;
  }
  ASSERT_GE(waiting, 0) << "every connection was taken";
  ASSERT_FALSE(served.empty());
  // Real time for a real process: a second and a half in which a spinning
  // server would use a second and a half of processor time.
  const double before = server.cpuSeconds();
  sleepSeconds(1.5);
  const double used = server.cpuSeconds() - before;
  EXPECT_LT(used, 0.3) << "the server spins while it cannot take connections";
  // The connections it has are served as before.
  ASSERT_TRUE(Server::send(served.back(), numbers("still", {})));
  EXPECT_TRUE(server.errHas("unknown command \"still\""));
  server.hangUp(served.front());
  EXPECT_TRUE(server.errHas("unknown command \"ping" + std::to_string(served.size()) + "\""));
  EXPECT_EQ(countOf(server.err(), "no file descriptor is free"), 1u) << server.err();
  server.signal(SIGTERM);
  EXPECT_EQ(server.waitExit(), 0);
}

// Samples that are no number are reported as in a file render; an integer
// file reports the samples it clipped.
TEST_F(SocketSafety, NaNAndClippedSamplesAreReported) {
  const std::string count = std::to_string(int(0.1 * kRate));
  const Ended nan =
      playSession(root / "float", {},
                  texts("load", {"argprobe"}) + texts("rtoutput", {"nan.wav"}) + note(0, 0.1, std::nan(""), 0.5));
  EXPECT_EQ(nan.status, 0);
  EXPECT_TRUE(contains(nan.err, "vemora: " + (root / "float" / "nan.wav").string() + ": " + count +
                                    " samples were NaN or infinite; they were written as 0 (NaN) or full scale "
                                    "(infinite)\n"))
      << nan.err;
  const Ended loud = playSession(
      root / "int", {}, texts("load", {"argprobe"}) + texts("rtoutput", {"loud.wav", "16"}) + note(0, 0.1, 2.0, 0.5));
  EXPECT_EQ(loud.status, 0);
  EXPECT_TRUE(contains(loud.out, ", " + count + " samples clipped)")) << loud.out;
}

// A session never reads the file it will replace, nor writes over one it
// reads: in either order, the second of the two is refused.
TEST_F(SocketSafety, SessionNeverReadsTheFileItReplaces) {
  for (const bool inputFirst : {true, false}) {
    SCOPED_TRACE(inputFirst ? "rtinput, then a note opens the output" : "the output open, then rtinput");
    const fs::path folder = root / (inputFirst ? "input-first" : "output-first");
    fs::create_directories(folder);
    writeSine(folder / "take.wav", 2, kRate, kRate);
    const std::string before = readFile(folder / "take.wav");
    const std::string records = inputFirst ? texts("load", {"argprobe"}) + texts("rtinput", {"take.wav"}) +
                                                 texts("rtoutput", {"take.wav"}) + note(0, 0.1, 0.25, 0.5)
                                           : texts("load", {"argprobe"}) + texts("rtoutput", {"take.wav"}) +
                                                 note(0, 0.1, 0.25, 0.5) + texts("rtinput", {"take.wav"});
    const Ended ended = playSession(folder, {}, records);
    const std::string refusal =
        inputFirst ? "rtoutput: \"" + (folder / "take.wav").string() + "\" is the same file as the input \"" +
                         (folder / "take.wav").string()
                   : "rtinput: \"" + (folder / "take.wav").string() + "\" is the same file as the session's output";
    EXPECT_TRUE(contains(ended.err, refusal)) << ended.err;
    EXPECT_EQ(ended.status, 0);
    if (inputFirst) {
      EXPECT_EQ(readFile(folder / "take.wav"), before);
    } else {
      const auto sound = readSound(folder / "take.wav");
      ASSERT_TRUE(sound);
      EXPECT_EQ(framesHolding(*sound, 0.25f, 0.5f), 4410);
    }
  }
}

// What clients may make the server hold in memory is bounded: a table past
// the budget is refused and the connection goes on.
TEST_F(SocketSafety, MemoryBudgetBoundsWhatClientsAsk) {
  const Ended ended = playSession(root, {"--max-memory", "1M"},
                                  texts("load", {"argprobe"}) + texts("rtoutput", {"take.wav"}) +
                                      numbers("gen", {1, 7, 1000000, 0, 1000000, 1}) + note(0, 0.1, 0.25, 0.5));
  EXPECT_TRUE(contains(ended.err,
                       "a table of 1000000 entries needs 8 MiB, which would pass the memory limit of "
                       "1 MiB"))
      << ended.err;
  const auto sound = readSound(root / "take.wav");
  ASSERT_TRUE(sound);
  EXPECT_EQ(framesHolding(*sound, 0.25f, 0.5f), 4410);
}
