// The score socket client: the record on the wire, text and number
// commands, the engine's start lines, parsing, the timer, whole records
// after short writes.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "scorewire.h"

namespace fs = std::filesystem;

// Writes from the client pass through here: when armed, the first write is
// cut short, as a busy socket may do.
static std::atomic<long> gShortWriteBytes{0};
extern "C" ssize_t write(int fd, const void* buf, size_t count) {
  const long cut = gShortWriteBytes.exchange(0);
  if (cut > 0 && size_t(cut) < count) count = size_t(cut);
  return syscall(SYS_write, fd, buf, count);
}

namespace {

// A listener on a loopback port for socket number `number`.
class Listener {
 public:
  explicit Listener(int number) {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(SCOREWIRE_BASE_PORT + number));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(fd, 4) == 0;
  }
  ~Listener() { close(fd); }
  int accept() { return ::accept(fd, nullptr, nullptr); }

  bool bound = false;

 private:
  int fd = -1;
};

std::vector<unsigned char> readAll(int fd) {
  std::vector<unsigned char> bytes;
  unsigned char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) bytes.insert(bytes.end(), buffer, buffer + n);
  return bytes;
}

// Sends with `send` on a fresh connection and returns the bytes received.
template <typename Send>
std::vector<unsigned char> capture(Send send) {
  Listener listener(7);
  if (!listener.bound) return {};
  char host[] = "127.0.0.1";
  const int client = RTsock(host, 7);
  const int server = listener.accept();
  send(client);
  close(client);
  std::vector<unsigned char> bytes = readAll(server);
  close(server);
  return bytes;
}

template <typename T>
T readAt(const std::vector<unsigned char>& bytes, size_t offset) {
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A stand-in engine that writes its arguments, one a line, to a file.
fs::path standIn(const fs::path& folder) {
  const fs::path program = folder / "prog";
  std::ofstream(program) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" << (folder / "args").string() << "\"\n";
  fs::permissions(program, fs::perms::owner_all);
  return program;
}

fs::path freshFolder(const char* name) {
  fs::path folder = fs::temp_directory_path() / (std::string(name) + "-" + std::to_string(getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

}  // namespace

TEST(Scorewire, NumberRecordIsLaidOutByteByByte) {
  std::vector<unsigned char> bytes = capture([](int fd) { RTsendsock("SCULPT", fd, 3, 0.5, 1.25, -2.0); });
  ASSERT_EQ(bytes.size(), size_t(SCOREWIRE_RECORD_BYTES));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data())), "SCULPT");
  for (size_t i = 6; i < 100; ++i) EXPECT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(readAt<double>(bytes, 100), 0.5);
  EXPECT_EQ(readAt<double>(bytes, 108), 1.25);
  EXPECT_EQ(readAt<double>(bytes, 116), -2.0);
  EXPECT_EQ(readAt<int>(bytes, 8292), 3);
}

TEST(Scorewire, OnlyTheFiveTextCommandsCarryTexts) {
  std::vector<unsigned char> text = capture([](int fd) { RTsendsock("rtinput", fd, 1, "voice.wav"); });
  ASSERT_EQ(text.size(), size_t(SCOREWIRE_RECORD_BYTES));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&text[100])), "voice.wav");
  EXPECT_EQ(readAt<int>(text, 8292), 1);

  std::vector<unsigned char> number = capture([](int fd) { RTsendsock("rtinputs", fd, 1, 4.5); });
  ASSERT_EQ(number.size(), size_t(SCOREWIRE_RECORD_BYTES));
  EXPECT_EQ(readAt<double>(number, 100), 4.5);

  std::vector<unsigned char> two = capture([](int fd) { RTsendsock("bus_config", fd, 2, "PAN", "out0-1"); });
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&two[100])), "PAN");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&two[100 + 512])), "out0-1");
}

TEST(Scorewire, OversizedNamesTextsAndCountsStayInsideTheRecord) {
  const std::string longName(300, 'N');
  const std::string longText(2000, 'T');
  std::vector<unsigned char> bytes = capture([&](int fd) { RTsendsock(longName.c_str(), fd, 0); });
  ASSERT_EQ(bytes.size(), size_t(SCOREWIRE_RECORD_BYTES));
  EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(bytes.data())), 99u);

  std::vector<unsigned char> texts = capture([&](int fd) {
    RTsendsock("load", fd, 40, longText.c_str(), "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o",
               "p");
  });
  ASSERT_EQ(texts.size(), size_t(SCOREWIRE_RECORD_BYTES));
  EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(&texts[100])), 511u);
  EXPECT_EQ(readAt<int>(texts, 8292), 16);

  RTsockstr* record = newRTsockstr(const_cast<char*>("x"), 0);
  ASSERT_NE(record, nullptr);
  RTsetsockdata(record, -1, 1.0);
  RTsetsockdata(record, 1024, 1.0);
  RTsetsocktext(record, 16, const_cast<char*>("beyond"));
  RTsetsocktext(record, 15, const_cast<char*>(longText.c_str()));
  EXPECT_EQ(std::strlen(record->data.text[15]), 511u);
  std::vector<double> many(2000, 3.0);
  RTsetsockstr(record, const_cast<char*>("SCULPT"), 2000, many.data());
  EXPECT_EQ(record->n_args, 1024);
  std::free(record);
}

TEST(Scorewire, ShortFirstWriteIsCompletedIntoOneRecord) {
  RTsockstr* record = newRTsockstr(const_cast<char*>("SCULPT"), 2);
  ASSERT_NE(record, nullptr);
  RTsetsockdata(record, 0, 1.0);
  RTsetsockdata(record, 1, 2.0);
  std::vector<unsigned char> sent(reinterpret_cast<unsigned char*>(record),
                                  reinterpret_cast<unsigned char*>(record) + sizeof *record);
  std::vector<unsigned char> bytes = capture([&](int fd) {
    gShortWriteBytes = 1000;
    RTsendsockstr(fd, record);
    gShortWriteBytes = 1000;
    RTsendsock("PAN", fd, 1, 9.0);
  });
  std::free(record);
  ASSERT_EQ(bytes.size(), size_t(2 * SCOREWIRE_RECORD_BYTES));
  EXPECT_TRUE(std::equal(sent.begin(), sent.end(), bytes.begin()));
  EXPECT_EQ(readAt<double>(bytes, SCOREWIRE_RECORD_BYTES + 100), 9.0);
}

TEST(Scorewire, PrintShowsBothViewsOfTheRecord) {
  RTsockstr* record = RTnewsockstr(const_cast<char*>("rtoutput"));
  ASSERT_NE(record, nullptr);
  RTsetsocktext(record, 0, const_cast<char*>("a.wav"));
  record->n_args = 1;
  ::testing::internal::CaptureStdout();
  RTprintsockstr(record);
  const std::string out = ::testing::internal::GetCapturedStdout();
  char number[64];
  std::snprintf(number, sizeof number, "%2.2f", record->data.p[0]);
  EXPECT_EQ(out, "name:  rtoutput\nnargs:  1\np[0]:  " + std::string(number) + "\ntext[0]:  a.wav\n");
  std::free(record);
}

TEST(Scorewire, ParseSplitsInPlaceAndKeepsInsideItsVector) {
  char line[] = "a b ";
  char* args[SCOREWIRE_MAX_ARGS];
  parse(line, args);
  ASSERT_NE(args[2], nullptr);
  EXPECT_STREQ(args[0], "a");
  EXPECT_STREQ(args[1], "b");
  EXPECT_STREQ(args[2], "");
  EXPECT_EQ(args[3], nullptr);

  char tabs[] = "prog\t-i  x";
  parse(tabs, args);
  EXPECT_STREQ(args[0], "prog");
  EXPECT_STREQ(args[1], "-i");
  EXPECT_STREQ(args[2], "x");
  EXPECT_EQ(args[3], nullptr);

  char empty[] = "";
  parse(empty, args);
  EXPECT_EQ(args[0], nullptr);

  std::string many;
  for (int i = 0; i < 40; ++i) many += "w ";
  std::vector<char> buffer(many.begin(), many.end());
  buffer.push_back('\0');
  char* guarded[SCOREWIRE_MAX_ARGS + 1];
  guarded[SCOREWIRE_MAX_ARGS] = reinterpret_cast<char*>(0x1);
  parse(buffer.data(), guarded);
  EXPECT_EQ(guarded[SCOREWIRE_MAX_ARGS - 1], nullptr);
  EXPECT_EQ(guarded[SCOREWIRE_MAX_ARGS], reinterpret_cast<char*>(0x1));
}

TEST(Scorewire, TimerArmsWholeSecondsAndMicroseconds) {
  RTtimeit(1.25f, SIG_IGN);
  itimerval timer{};
  getitimer(ITIMER_REAL, &timer);
  EXPECT_EQ(timer.it_interval.tv_sec, 1);
  EXPECT_EQ(timer.it_interval.tv_usec, 250000);
  EXPECT_LE(timer.it_value.tv_sec, 1);
  itimerval off{};
  setitimer(ITIMER_REAL, &off, nullptr);
}

TEST(Scorewire, StartsTheEngineWithItsTwoCommandLines) {
  const fs::path folder = freshFolder("scorewire-start");
  const std::string program = standIn(folder).string();
  ::testing::internal::CaptureStdout();
  const int pid = RTopensocket(3, const_cast<char*>(program.c_str()));
  const std::string printed = ::testing::internal::GetCapturedStdout();
  ASSERT_GT(pid, 0);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_EQ(printed, "zarn process id is " + std::to_string(pid) + "\n");
  EXPECT_EQ(slurp(folder / "args"), "-i\n-n\n-s\n3\n&>zarn.dbug\n");

  fs::remove(folder / "args");
  const fs::path here = fs::current_path();
  fs::current_path(folder);
  const int shellStatus = RTopensocket_syscall(3, const_cast<char*>(program.c_str()));
  fs::current_path(here);
  EXPECT_EQ(shellStatus, 0);
  // The shell starts the program in the background: its arguments are
  // there once it has written them.
  const std::string shellLine = "-i\n-n\n-c\n-o\n3\n";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (slurp(folder / "args").rfind(shellLine, 0) != 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(slurp(folder / "args").rfind(shellLine, 0), 0u) << slurp(folder / "args");
  fs::remove_all(folder);
}

TEST(Scorewire, RefusesStartLinesBeyondTheirBuffers) {
  std::string longName(80, 'p');
  EXPECT_EQ(RTopensocket(3, longName.data()), -1);
  EXPECT_EQ(RTopensocket(12, const_cast<char*>("prog")), -1);
  EXPECT_EQ(RTopensocket_syscall(3, longName.data()), -1);
}

TEST(Scorewire, KillStopsTheNamedProcessAndClosesTheSocket) {
  // Whatever the id's length, the process named is the one stopped.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    pause();
    _exit(0);
  }
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  RTkillsocket(fds[0], int(child));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_EQ(write(fds[0], "x", 1), -1);  // closed
  close(fds[1]);
}

TEST(Scorewire, ExecuteEndsAChildWhoseProgramIsMissing) {
  char program[] = "/nonexistent/program";
  char* args[] = {program, nullptr};
  ::testing::internal::CaptureStderr();
  const int pid = execute(args);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 127);
  EXPECT_NE(err.find("/nonexistent/program"), std::string::npos);
}

TEST(Scorewire, NewSockReportsAFailedConnection) {
  char host[] = "127.0.0.1";
  ::testing::internal::CaptureStderr();
  EXPECT_LT(newRTsock(host, 9), 0);  // nothing listens on 1111 here
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("connect"), std::string::npos);
}
