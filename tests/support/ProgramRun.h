// Running the real programs as processes in the tests: a program started in
// a folder with its output and messages going to files, waited for with a
// time limit, and the checks that every run of it must pass.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "SoundOutput.h"

namespace programrun {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Cases about permissions run as this user when the tests run as root.
constexpr uid_t kNobody = 65534;

inline std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline size_t countOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

inline void sleepSeconds(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

// Waits up to `seconds` for `done`; returns whether it came true.
template <class Condition>
bool waitFor(double seconds, Condition done) {
  const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    sleepSeconds(0.002);
  }
  return true;
}

// A connection to a server on 127.0.0.1, or -1.
int connectToLoopback(int port);
bool sendAll(int fd, const std::string& bytes);

// The connections a test holds to a server on 127.0.0.1, closed with it.
class LoopbackClients {
 public:
  explicit LoopbackClients(int port) : port(port) {}
  ~LoopbackClients() {
    for (int fd : open) close(fd);
  }
  LoopbackClients(const LoopbackClients&) = delete;
  LoopbackClients& operator=(const LoopbackClients&) = delete;

  // A new connection, or -1.
  int connect() {
    const int fd = connectToLoopback(port);
    if (fd >= 0) open.push_back(fd);
    return fd;
  }
  void hangUp(int fd) {
    std::erase(open, fd);
    close(fd);
  }
  static bool send(int fd, const std::string& bytes) { return sendAll(fd, bytes); }

 private:
  int port;
  std::vector<int> open;
};

inline int connectToLoopback(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(uint16_t(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

// Sends everything, unless the other side closes the connection first.
inline bool sendAll(int fd, const std::string& bytes) {
  for (size_t sent = 0; sent < bytes.size();) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += size_t(n);
  }
  return true;
}

struct Outcome {
  bool hung = false;
  int exitStatus = -1;  // when the process exited
  int signal = 0;       // when a signal ended it
  std::string out, err;
};

// A program started in a folder, with standard input empty and its
// standard output and error going to files.
class Process {
 public:
  struct Options {
    std::vector<std::string> args;  // args[0] is the program
    fs::path folder;
    fs::path logs;  // <logs>.out and <logs>.err
    rlim_t fileSizeLimit = RLIM_INFINITY;
    rlim_t descriptorLimit = RLIM_INFINITY;
    bool asNobody = false;                 // run as the unprivileged user nobody (the caller is root)
    std::vector<std::string> environment;  // NAME=VALUE added to the caller's
    int standardOutput = -1;               // a descriptor to use instead of <logs>.out
  };

  explicit Process(const Options& options)
      : outPath(options.logs.string() + ".out"), errPath(options.logs.string() + ".err") {
    std::vector<char*> argv;
    for (const std::string& arg : options.args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    // The caller's environment, with the variables given replacing those of
    // the same name.
    std::vector<char*> envp;
    auto given = [&](const char* variable) {
      for (const std::string& own : options.environment)
        if (own.compare(0, own.find('=') + 1, variable, 0, own.find('=') + 1) == 0) return true;
      return false;
    };
    for (char** variable = environ; *variable; ++variable)
      if (!given(*variable)) envp.push_back(*variable);
    for (const std::string& variable : options.environment) envp.push_back(const_cast<char*>(variable.c_str()));
    envp.push_back(nullptr);
    const std::string folder = options.folder.string();
    const rlim_t limit = options.fileSizeLimit;
    const rlim_t descriptors = options.descriptorLimit;
    const bool nobody = options.asNobody;
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = options.standardOutput >= 0 ? fcntl(options.standardOutput, F_DUPFD_CLOEXEC, 3)
                                                : open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid = fork();
    if (pid == 0) {
      // Only calls that are safe between fork and exec.
      if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(folder.c_str()) != 0) _exit(126);
      if (limit != RLIM_INFINITY) {
        const rlimit fileSize{limit, limit};
        if (setrlimit(RLIMIT_FSIZE, &fileSize) != 0) _exit(126);
      }
      if (descriptors != RLIM_INFINITY) {
        const rlimit open{descriptors, descriptors};
        if (setrlimit(RLIMIT_NOFILE, &open) != 0) _exit(126);
      }
      if (nobody && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(126);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    for (int fd : {in, out, err}) close(fd);
  }

  ~Process() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }

  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool started() const { return pid > 0; }
  pid_t id() const { return pid; }
  // Whether the program has ended, leaving wait to collect it.
  bool exited() const {
    siginfo_t info{};
    return pid > 0 && waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
  }
  void signal(int number) const {
    if (pid > 0) kill(pid, number);
  }
  std::string out() const { return readFile(outPath); }
  std::string err() const { return readFile(errPath); }

  // Waits at most `seconds`; a process still running then is killed and
  // counted as hung.
  Outcome wait(double seconds) {
    Outcome outcome;
    int raw = 0;
    const bool ended = pid > 0 && waitFor(seconds, [&] { return waitpid(pid, &raw, WNOHANG) == pid; });
    if (pid > 0 && !ended) {
      outcome.hung = true;
      kill(pid, SIGKILL);
      waitpid(pid, &raw, 0);
    }
    pid = -1;
    if (WIFEXITED(raw)) outcome.exitStatus = WEXITSTATUS(raw);
    if (WIFSIGNALED(raw) && !outcome.hung) outcome.signal = WTERMSIG(raw);
    outcome.out = out();
    outcome.err = err();
    return outcome;
  }

 private:
  std::string outPath, errPath;
  pid_t pid = -1;
};

inline Outcome run(const Process::Options& options, double seconds) {
  Process process(options);
  return process.wait(seconds);
}

// No crash, no hang, no sanitizer report.
inline void expectNoCrashOrHang(const Outcome& outcome) {
  EXPECT_FALSE(outcome.hung) << "still running after the time limit; killed\n" << outcome.err;
  EXPECT_EQ(outcome.signal, 0) << "ended by " << strsignal(outcome.signal) << "\n" << outcome.err;
  for (const char* report : {"AddressSanitizer", "LeakSanitizer", "runtime error:", "UndefinedBehaviorSanitizer"})
    EXPECT_FALSE(contains(outcome.err, report)) << outcome.err;
}

inline std::vector<std::string> temporariesUnder(const fs::path& folder) {
  std::vector<std::string> found;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, fs::directory_options::skip_permission_denied, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (contains(it->path().filename().string(), ".part-")) found.push_back(it->path().string());
  }
  return found;
}

inline void removeFolder(const fs::path& folder) {
  std::error_code ignored;
  for (auto it = fs::recursive_directory_iterator(folder, ignored); it != fs::recursive_directory_iterator();
       it.increment(ignored))
    if (it->is_directory(ignored)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(folder, ignored);
}

inline bool privileged() { return geteuid() == 0; }

// A sine at half scale, 16-bit.
inline void writeSine(const fs::path& path, int channels, int rate, int frames) {
  std::vector<float> samples(size_t(frames) * size_t(channels));
  for (int f = 0; f < frames; ++f)
    for (int c = 0; c < channels; ++c)
      samples[size_t(f) * size_t(channels) + size_t(c)] =
          0.5f * float(std::sin(2.0 * std::numbers::pi * 440.0 * (c + 1) * f / rate));
  vemora::SoundFileWriter writer(path.string(), vemora::outputFormatFor(path.string(), "16"), channels, rate);
  writer.write(samples.data(), frames);
  writer.commit();
}

}  // namespace programrun
