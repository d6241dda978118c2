#include "SocketServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <vector>

#include "Engine.h"
#include "SoundOutput.h"
#include "scorewire.h"

namespace vemora {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStopTailSeconds = 30;

constexpr const char* kTextCommands[] = {"rtinput", "rtoutput", "set_option", "bus_config", "load"};

bool isTextCommand(const char* name) {
  for (const char* text : kTextCommands)
    if (std::strcmp(name, text) == 0) return true;
  return false;
}

// The write end of the pipe that wakes the server when a stop is asked.
int gWakeFd = -1;

void onStopSignal(int) {
  if (gWakeFd >= 0) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = write(gWakeFd, &byte, 1);
  }
}

class FileSink : public OutputSink {
 public:
  explicit FileSink(SoundFileWriter& writer) : writer(writer) {}
  void write(const float* interleaved, int frames) override { writer.write(interleaved, frames); }

 private:
  SoundFileWriter& writer;
};

struct Connection {
  int fd = -1;  // -1: bytes handed in through receive()
  int number = 0;
  size_t filled = 0;
  long records = 0;
  bool ended = false;  // a malformed record ended it
  std::unique_ptr<unsigned char[]> buffer{new unsigned char[SCOREWIRE_RECORD_BYTES]};
};

// Checks a record before anything in it is used; returns the reason it is
// malformed, or an empty text.
std::string malformation(const sockdata& record) {
  if (!std::memchr(record.name, '\0', sizeof record.name)) return "the command name is not terminated";
  if (record.name[0] == '\0') return "the command name is empty";
  const bool texts = isTextCommand(record.name);
  const int most = texts ? SCOREWIRE_MAX_TEXTS : SCOREWIRE_MAX_NUMBERS;
  if (record.n_args < 0 || record.n_args > most)
    return "n_args " + std::to_string(record.n_args) + " is outside 0 to " + std::to_string(most);
  if (texts)
    for (int i = 0; i < record.n_args; ++i)
      if (!std::memchr(record.data.text[i], '\0', SCOREWIRE_TEXT_BYTES))
        return "text argument " + std::to_string(i) + " is not terminated";
  return {};
}

}  // namespace

struct SocketServer::Impl {
  Engine& engine;
  ServerSettings settings;
  int listenFd = -1;
  int wakePipe[2] = {-1, -1};
  int boundPort = 0;
  int nextConnection = 1;
  int handled = 0;
  std::vector<Connection> connections;
  std::map<int, Connection> socketless;

  std::string outputPath;
  std::string outputSample;
  std::unique_ptr<SoundFileWriter> writer;  // null when settings.openOutput made the sink
  std::unique_ptr<OutputSink> sink;
  Clock::time_point streamStart;
  bool failed = false;

  Impl(Engine& engine, ServerSettings settings) : engine(engine), settings(std::move(settings)) {}

  std::string resolve(const std::string& path) const {
    if (path.empty() || path[0] == '/' || settings.baseFolder.empty()) return path;
    return (std::filesystem::path(settings.baseFolder) / path).string();
  }

  void complain(const Connection& connection, const std::string& text) {
    std::fprintf(stderr, "vemora: connection %d: %s\n", connection.number, text.c_str());
  }

  bool streaming() const { return sink != nullptr; }

  void startStream() {
    if (settings.openOutput) {
      sink = settings.openOutput();
      if (!sink) throw ScoreError("the output could not be opened");
    } else {
      const std::string path = outputPath.empty() ? resolve(settings.defaultOutput) : outputPath;
      writer = std::make_unique<SoundFileWriter>(path, outputFormatFor(path, outputSample),
                                                 engine.settings().channels, engine.settings().sampleRate);
      sink = std::make_unique<FileSink>(*writer);
    }
    engine.openStream(*sink);
    streamStart = Clock::now();
  }

  // Renders every block whose time has fully come.
  void catchUp() {
    if (!streaming()) return;
    const double elapsed = std::chrono::duration<double>(Clock::now() - streamStart).count();
    const int64_t due = int64_t(elapsed * engine.settings().sampleRate);
    while (engine.streamPosition() + engine.settings().blockFrames <= due) engine.renderStreamBlock();
  }

  int msUntilNextBlock() const {
    if (!streaming()) return -1;
    const double next = double(engine.streamPosition() + engine.settings().blockFrames) /
                        engine.settings().sampleRate;
    const double elapsed = std::chrono::duration<double>(Clock::now() - streamStart).count();
    return std::max(0, int(std::ceil((next - elapsed) * 1000.0)));
  }

  void runText(const sockdata& record) {
    const std::string name = record.name;
    std::vector<std::string> texts;
    for (int i = 0; i < record.n_args; ++i) texts.emplace_back(record.data.text[i]);
    if (texts.empty()) throw ScoreError(name + ": give at least one text argument");
    if (name == "rtinput") {
      engine.setInput(resolve(texts[0]));
    } else if (name == "rtoutput") {
      if (streaming())
        throw ScoreError("rtoutput: the output is already open" + (writer ? " (" + writer->path() + ")" : ""));
      const std::string path = resolve(texts[0]);
      const std::string sample = texts.size() > 1 ? texts[1] : "";
      outputFormatFor(path, sample);  // refuses a bad name or format now
      outputPath = path;
      outputSample = sample;
    } else if (name == "set_option") {
      for (const std::string& text : texts) engine.setOption(text);
    } else if (name == "bus_config") {
      engine.busConfig(texts[0], std::vector<std::string>(texts.begin() + 1, texts.end()));
    } else {
      for (const std::string& text : texts) engine.load(text);
    }
  }

  void runNumbers(const sockdata& record) {
    const std::string name = record.name;
    std::vector<double> p(size_t(record.n_args));
    if (!p.empty()) std::memcpy(p.data(), &record.data, sizeof(double) * p.size());  // data() may be null
    if (name == "gen") {
      if (p.size() < 3) throw ScoreError("gen: give the slot, the routine number and the size");
      for (size_t i = 0; i < 3; ++i)
        if (!std::isfinite(p[i]) || std::fabs(p[i]) > double(std::numeric_limits<int>::max()) ||
            p[i] != std::trunc(p[i]))
          throw ScoreError("gen: the slot, routine number and size must be whole numbers");
      engine.makeTable(int(p[0]), int(p[1]), static_cast<long long>(p[2]),
                       std::vector<double>(p.begin() + 3, p.end()));
    } else if (engine.hasInstrument(name) || engine.hasFunction(name)) {
      if (!streaming()) startStream();
      if (engine.hasInstrument(name))
        engine.playNote(name, std::vector<PField>(p.begin(), p.end()));
      else
        engine.callFunction(name, p);
    } else {
      throw ScoreError("unknown command \"" + name + "\" (load its plug-in first)");
    }
  }

  void handleRecord(Connection& connection, const sockdata& record) {
    ++connection.records;
    ++handled;
    catchUp();  // the note starts from the moment it arrives
    engine.setScoreLocation("connection " + std::to_string(connection.number) + ", record " +
                            std::to_string(connection.records));
    try {
      if (isTextCommand(record.name))
        runText(record);
      else
        runNumbers(record);
    } catch (const std::exception& error) {
      complain(connection, error.what());
    }
    engine.setScoreLocation("");
  }

  // Adds bytes that arrived on a connection and handles each record they
  // complete. Returns false when a malformed record ends the connection.
  bool take(Connection& connection, const unsigned char* bytes, size_t size) {
    while (size > 0) {
      const size_t n = std::min(size, SCOREWIRE_RECORD_BYTES - connection.filled);
      std::memcpy(connection.buffer.get() + connection.filled, bytes, n);
      connection.filled += n;
      bytes += n;
      size -= n;
      if (connection.filled < SCOREWIRE_RECORD_BYTES) break;
      connection.filled = 0;
      sockdata record;
      std::memcpy(&record, connection.buffer.get(), sizeof record);
      const std::string reason = malformation(record);
      if (!reason.empty()) {
        complain(connection, "malformed record: " + reason + "; closing the connection");
        return false;
      }
      handleRecord(connection, record);
    }
    return true;
  }

  void reportCut(const Connection& connection) {
    if (connection.filled > 0)
      complain(connection, "closed inside a record (" + std::to_string(connection.filled) + " of " +
                               std::to_string(SCOREWIRE_RECORD_BYTES) + " bytes); the partial record was dropped");
  }

  // Reads what has arrived; returns false when the connection must close.
  bool readFrom(Connection& connection) {
    unsigned char chunk[SCOREWIRE_RECORD_BYTES];
    for (;;) {
      const ssize_t n = read(connection.fd, chunk, sizeof chunk);
      if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
      if (n == 0) {
        reportCut(connection);
        return false;
      }
      if (!take(connection, chunk, size_t(n))) return false;
    }
  }

  void acceptConnections() {
    for (;;) {
      const int fd = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) return;
      Connection connection;
      connection.fd = fd;
      connection.number = nextConnection++;
      connections.push_back(std::move(connection));
    }
  }

  void finish() {
    for (Connection& connection : connections) close(connection.fd);
    connections.clear();
    if (!streaming()) {
      std::fprintf(stderr, "vemora: no note was played; nothing written\n");
      return;
    }
    try {
      catchUp();
      // Notes already sent are let to finish, unpaced, up to a bound that
      // keeps a stop from waiting on a note of hours.
      const int64_t most = engine.streamPosition() + int64_t(kStopTailSeconds * engine.settings().sampleRate);
      while (!engine.streamIdle() && engine.streamPosition() < most) engine.renderStreamBlock();
      if (!engine.streamIdle())
        std::fprintf(stderr, "vemora: notes still sounding %d s after the stop were cut\n", kStopTailSeconds);
      engine.closeStream();
      if (writer) {
        writer->commit();
        const double seconds = double(writer->framesWritten()) / engine.settings().sampleRate;
        std::printf("vemora: wrote %s (%.3f s, %d records, %d notes played, %d refused)\n", writer->path().c_str(),
                    seconds, handled, engine.notesPlayed(), engine.notesRefused());
        std::fflush(stdout);
      }
    } catch (const std::exception& error) {
      std::fprintf(stderr, "vemora: %s\n", error.what());
      failed = true;
    }
    sink.reset();
    writer.reset();
  }
};

SocketServer::SocketServer(Engine& engine, ServerSettings settings) : impl(new Impl(engine, std::move(settings))) {}

SocketServer::~SocketServer() {
  // Never served to the end (or never served): the engine must not keep
  // writing into a sink that goes away with the server.
  if (impl->streaming()) impl->engine.closeStream();
  for (Connection& connection : impl->connections) close(connection.fd);
  if (impl->listenFd >= 0) close(impl->listenFd);
  for (int fd : impl->wakePipe)
    if (fd >= 0) close(fd);
  if (gWakeFd == impl->wakePipe[1]) gWakeFd = -1;
  delete impl;
}

void SocketServer::listen() {
  if (impl->settings.socketNumber < 0 || impl->settings.socketNumber > 64000)
    throw ScoreError("socket number " + std::to_string(impl->settings.socketNumber) + " is out of range");
  if (pipe2(impl->wakePipe, O_NONBLOCK | O_CLOEXEC) != 0) throw ScoreError("cannot make the wake-up pipe");
  impl->listenFd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (impl->listenFd < 0) throw ScoreError(std::string("socket: ") + std::strerror(errno));
  int yes = 1;
  setsockopt(impl->listenFd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(uint16_t(SCOREWIRE_BASE_PORT + impl->settings.socketNumber));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(impl->listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(impl->listenFd, 16) != 0)
    throw ScoreError("cannot listen on 127.0.0.1 port " +
                     std::to_string(SCOREWIRE_BASE_PORT + impl->settings.socketNumber) + ": " + std::strerror(errno));
  impl->boundPort = SCOREWIRE_BASE_PORT + impl->settings.socketNumber;
}

int SocketServer::port() const { return impl->boundPort; }

void SocketServer::stop() {
  const char byte = 1;
  [[maybe_unused]] ssize_t n = write(impl->wakePipe[1], &byte, 1);
}

int SocketServer::recordsHandled() const { return impl->handled; }

bool SocketServer::receive(int connection, const void* bytes, size_t size) {
  Connection& c = impl->socketless[connection];
  c.number = connection;
  if (c.ended) return false;
  if (!impl->take(c, static_cast<const unsigned char*>(bytes), size)) c.ended = true;
  return !c.ended;
}

void SocketServer::hangUp(int connection) {
  auto it = impl->socketless.find(connection);
  if (it == impl->socketless.end()) return;
  if (!it->second.ended) impl->reportCut(it->second);
  impl->socketless.erase(it);
}

int SocketServer::serve() {
  gWakeFd = impl->wakePipe[1];
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  struct sigaction oldTerm {}, oldInt {};
  sigaction(SIGTERM, &action, &oldTerm);
  sigaction(SIGINT, &action, &oldInt);
  signal(SIGPIPE, SIG_IGN);

  bool stopping = false;
  while (!stopping) {
    std::vector<pollfd> fds = {{impl->wakePipe[0], POLLIN, 0}, {impl->listenFd, POLLIN, 0}};
    for (const Connection& connection : impl->connections) fds.push_back({connection.fd, POLLIN, 0});
    const int ready = poll(fds.data(), fds.size(), impl->msUntilNextBlock());
    if (ready < 0 && errno != EINTR) break;
    impl->catchUp();
    if (fds[0].revents & POLLIN) stopping = true;
    if (fds[1].revents & POLLIN) impl->acceptConnections();
    for (size_t i = 2; i < fds.size(); ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      auto it = std::find_if(impl->connections.begin(), impl->connections.end(),
                             [&](const Connection& c) { return c.fd == fds[i].fd; });
      if (it != impl->connections.end() && !impl->readFrom(*it)) {
        close(it->fd);
        impl->connections.erase(it);
      }
    }
  }
  impl->finish();
  sigaction(SIGTERM, &oldTerm, nullptr);
  sigaction(SIGINT, &oldInt, nullptr);
  gWakeFd = -1;
  return impl->failed ? 1 : 0;
}

}  // namespace vemora
