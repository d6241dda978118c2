#include "SocketServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <vector>

#include "Engine.h"
#include "PrintableText.h"
#include "CommandLayer.h"
#include "FileSink.h"
#include "LivePlayer.h"
#include "SoundOutput.h"
#include "scorewire.h"

namespace vemora {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStopTailSeconds = 30;
// How often the output file's header is brought up to date while the
// session runs: what a crash leaves behind is readable up to this age.
constexpr auto kHeaderInterval = std::chrono::milliseconds(500);
// After running out of descriptors the listener rests until a connection
// closes, or this long at most (a descriptor may free elsewhere).
constexpr auto kListenerRest = std::chrono::seconds(1);
// Connections accepted in one turn, and when stopping: a flood of connects
// cannot hold the records back.
constexpr int kAcceptsPerTurn = 64;

bool isTextCommand(const char* name) { return scorewire_takes_texts(name) != 0; }

// The write end of the pipe that wakes the server when a stop is asked.
int gWakeFd = -1;

void onStopSignal(int) {
  if (gWakeFd >= 0) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = write(gWakeFd, &byte, 1);
  }
}

// Passes on the frames up to the session's length and drops the rest, so
// that the output ends exactly there whatever the block length.
class CappedSink : public OutputSink {
 public:
  CappedSink(OutputSink& inner, int64_t room) : inner(inner), room(room) {}
  void write(const float* interleaved, int frames) override {
    const int n = int(std::min<int64_t>(frames, room));
    if (n <= 0) return;
    inner.write(interleaved, n);
    room -= n;
  }

 private:
  OutputSink& inner;
  int64_t room;
};

// A session heard live: every block goes to the device, and to the file
// when there is one.
class LiveTee : public OutputSink {
 public:
  LiveTee(std::unique_ptr<OutputSink> file, OutputSink& device) : file(std::move(file)), device(device) {}
  void write(const float* interleaved, int frames) override {
    if (file) file->write(interleaved, frames);
    device.write(interleaved, frames);
  }

 private:
  std::unique_ptr<OutputSink> file;
  OutputSink& device;
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
  std::atomic<int> handled{0};  // read by other threads (recordsHandled)
  std::vector<Connection> connections;
  std::map<int, Connection> socketless;

  CommandLayer commands;
  std::unique_ptr<SoundFileWriter> writer;  // null when settings.openOutput made the sink
  std::unique_ptr<OutputSink> sink;
  std::unique_ptr<CappedSink> cappedSink;  // what the engine writes into
  std::unique_ptr<LiveOutput> live;        // the device, with --play
  bool integerOutput = false;
  Clock::time_point streamStart;
  Clock::time_point headerUpdated;
  bool failed = false;

  int64_t sessionFrames = 0;  // the session's length, set when the stream opens
  bool limitReached = false;

  bool listenerResting = false;
  Clock::time_point listenerWakes;
  bool exhaustionSaid = false;

  Impl(Engine& engine, ServerSettings settings)
      : engine(engine),
        settings(std::move(settings)),
        commands(engine, {this->settings.baseFolder, "", this->settings.maxSampleRate, this->settings.maxChannels}) {
    confine();
  }

  // Records' paths are kept inside the root folder, its links resolved;
  // returns why the root cannot be served, or an empty text.
  std::string confine() {
    if (settings.rootFolder.empty()) return {};
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(settings.rootFolder, error);
    if (error) return error.message();
    if (!std::filesystem::is_directory(real, error)) return "it is not a folder";
    commands.confineTo(real.string());
    return {};
  }

  void complain(const Connection& connection, const std::string& text) {
    std::fprintf(stderr, "vemora: connection %d: %s\n", connection.number, printable(text).c_str());
  }

  Clock::time_point now() const { return settings.clock ? settings.clock() : Clock::now(); }

  bool streaming() const { return sink != nullptr; }

  void startStream() {
    // The device first: when it cannot open, nothing else is.
    if (settings.openLive && !live) live = settings.openLive();
    if (settings.openOutput) {
      sink = settings.openOutput();
      if (!sink) throw ScoreError("the output could not be opened");
    } else if (settings.openLive && commands.outputPath().empty() && settings.defaultOutput.empty()) {
      // Heard only: no file named.
    } else {
      const std::string& named = commands.outputPath();
      const std::string path = named.empty() ? commands.resolve(settings.defaultOutput) : named;
      const OutputFormat format = outputFormatFor(path, commands.outputSampleFormat());
      integerOutput = format.sample != SampleFormat::Float32;
      // Rendered before any input a later record names could be checked:
      // inputs named so far must not be the file this session replaces.
      engine.checkOutputIsNoInput(path);
      // A session's length is not known when it starts: a WAV file becomes
      // RF64 should it pass 4 GiB.
      writer = std::make_unique<SoundFileWriter>(path, format, engine.settings().channels, engine.settings().sampleRate,
                                                 kLengthUnknown);
      if (engine.settings().dither == Dither::Tpdf) writer->ditherWith(engine.settings().seed);
      sink = std::make_unique<FileSink>(*writer);
    }
    if (live) sink = std::make_unique<LiveTee>(std::move(sink), live->sink());
    commands.outputOpened(writer ? writer->path() : "");
    sessionFrames = std::llround(settings.maxSessionSeconds * engine.settings().sampleRate);
    cappedSink = std::make_unique<CappedSink>(*sink, sessionFrames);
    engine.openStream(*cappedSink);
    streamStart = now();
    headerUpdated = streamStart;
  }

  void renderBlock() {
    engine.renderStreamBlock();
    if (engine.streamPosition() >= sessionFrames) limitReached = true;
  }

  // Renders every block whose time has fully come, up to the session's
  // length, and keeps the file's header current.
  void catchUp() {
    if (!streaming() || limitReached) return;
    // One reading of the clock for the whole step: a header brought up to
    // date at a later reading than the render would count frames of a time
    // not yet rendered as written, and wait a whole interval to catch up.
    const auto current = now();
    const double elapsed = std::chrono::duration<double>(current - streamStart).count();
    // Live (--play), the device's clock: as far as the ring has room.
    const int64_t due = live ? engine.streamPosition() + live->room() : int64_t(elapsed * engine.settings().sampleRate);
    while (!limitReached && engine.streamPosition() + engine.settings().blockFrames <= due) renderBlock();
    if (writer && current - headerUpdated >= kHeaderInterval) {
      writer->updateHeader();
      headerUpdated = current;
    }
  }

  int msUntilNextBlock() const {
    if (!streaming()) return -1;
    if (live) {  // until the device has taken what leaves room for a block
      const int64_t missing = engine.settings().blockFrames - live->room();
      return missing <= 0 ? 0 : std::max(1, int(std::ceil(1000.0 * double(missing) / engine.settings().sampleRate)));
    }
    const double next = double(engine.streamPosition() + engine.settings().blockFrames) / engine.settings().sampleRate;
    const double elapsed = std::chrono::duration<double>(now() - streamStart).count();
    return std::max(0, int(std::ceil((next - elapsed) * 1000.0)));
  }

  void runText(const sockdata& record) {
    const std::string name = record.name;
    std::vector<std::string> texts;
    for (int i = 0; i < record.n_args; ++i) texts.emplace_back(record.data.text[i]);
    if (texts.empty()) throw ScoreError(name + ": give at least one text argument");
    if (name == "rtinput") {
      commands.rtinput(texts[0]);
    } else if (name == "rtoutput") {
      commands.rtoutput(texts[0], texts.size() > 1 ? texts[1] : "");
    } else if (name == "set_option") {
      for (const std::string& text : texts) commands.setOption(text);
    } else if (name == "bus_config") {
      commands.busConfig(texts[0], std::vector<std::string>(texts.begin() + 1, texts.end()));
    } else {
      for (const std::string& text : texts) commands.load(text);
    }
  }

  void runNumbers(const sockdata& record) {
    const std::string name = record.name;
    std::vector<double> p(size_t(record.n_args));
    if (!p.empty()) std::memcpy(p.data(), &record.data, sizeof(double) * p.size());  // data() may be null
    if (name == "gen") {
      std::vector<Number> numbers;
      for (const double value : p) numbers.push_back(Number::of(value));
      commands.gen(GenCommand::from(numbers));
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
    catchUp();  // the note starts from the moment it arrives
    if (live) live->recordArrived(engine.streamPosition());
    engine.setScoreLocation("connection " + std::to_string(connection.number) + ", record " +
                            std::to_string(connection.records));
    try {
      if (isTextCommand(record.name))
        runText(record);
      else
        runNumbers(record);
    } catch (const CommandRefused& refusal) {
      complain(connection, "record " + std::to_string(connection.records) + ": " + refusal.what());
    } catch (const std::exception& error) {
      complain(connection, error.what());
    }
    engine.setScoreLocation("");
    ++handled;  // counted once it has run, so that a watcher sees its effect
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

  // One connection's turn: reads up to the end of the record it is inside,
  // and runs that record if it is now whole. A connection that sends
  // records back to back, however heavy, gets one per turn like any other.
  // Returns false when the connection must close.
  bool takeTurn(Connection& connection) {
    unsigned char chunk[SCOREWIRE_RECORD_BYTES];
    const ssize_t n = read(connection.fd, chunk, SCOREWIRE_RECORD_BYTES - connection.filled);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    if (n == 0) {
      reportCut(connection);
      return false;
    }
    return take(connection, chunk, size_t(n));
  }

  // At a stop: runs the records the connection had already sent, and no
  // more than those, so that a client still writing cannot hold the stop.
  bool drain(Connection& connection) {
    int queued = 0;
    if (ioctl(connection.fd, FIONREAD, &queued) != 0) return false;
    unsigned char chunk[SCOREWIRE_RECORD_BYTES];
    for (size_t left = size_t(std::max(queued, 0)); left > 0;) {
      const ssize_t n = read(connection.fd, chunk, std::min(left, sizeof chunk));
      if (n <= 0) break;
      left -= size_t(n);
      if (!take(connection, chunk, size_t(n))) return false;
    }
    if (connection.filled > 0)
      complain(connection, "the stop came inside a record (" + std::to_string(connection.filled) + " of " +
                               std::to_string(SCOREWIRE_RECORD_BYTES) + " bytes); the partial record was dropped");
    return true;
  }

  void acceptConnections() {
    for (int i = 0; i < kAcceptsPerTurn; ++i) {
      const int fd = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        // The listener stays ready while connections wait that cannot be
        // taken: polling it again at once would spin. It rests until a
        // connection of ours closes, or a while.
        if (errno == EMFILE || errno == ENFILE) {
          listenerResting = true;
          listenerWakes = now() + kListenerRest;
          if (!exhaustionSaid)
            std::fprintf(stderr,
                         "vemora: no file descriptor is free for a new connection (%s); new connections wait "
                         "until one closes, open ones are served as before\n",
                         std::strerror(errno));
          exhaustionSaid = true;
        }
        return;
      }
      Connection connection;
      connection.fd = fd;
      connection.number = nextConnection++;
      connections.push_back(std::move(connection));
    }
  }

  bool listenerPolled() {
    if (listenerResting && now() >= listenerWakes) listenerResting = false;
    return !listenerResting;
  }

  int pollTimeout() const {
    int timeout = msUntilNextBlock();
    if (listenerResting) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(listenerWakes - now()).count();
      const int rest = int(std::max<int64_t>(0, left) + 1);
      timeout = timeout < 0 ? rest : std::min(timeout, rest);
    }
    return timeout;
  }

  void closeConnection(std::vector<Connection>::iterator it) {
    close(it->fd);
    connections.erase(it);
    listenerResting = false;  // a descriptor is free again
  }

  // The stop: connections waiting to be accepted are taken, and every
  // connection's records already sent are run.
  void drainAll() {
    if (limitReached) return;
    acceptConnections();
    for (auto it = connections.begin(); it != connections.end();) {
      if (drain(*it)) {
        ++it;
      } else {
        close(it->fd);
        it = connections.erase(it);
      }
    }
  }

  void sayLimitReached() {
    std::fprintf(stderr,
                 "vemora: the session reached its limit of %g s of output (--max-session-seconds); the file is "
                 "finished and kept\n",
                 settings.maxSessionSeconds);
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
      // keeps a stop from waiting on a note of hours (and within the
      // session's length).
      const int64_t most = engine.streamPosition() + int64_t(kStopTailSeconds * engine.settings().sampleRate);
      while (!limitReached && !engine.streamIdle() && engine.streamPosition() < most) renderBlock();
      if (live) live->finish();  // what the device holds plays out
      if (limitReached)
        sayLimitReached();
      else if (!engine.streamIdle())
        std::fprintf(stderr, "vemora: notes still sounding %d s after the stop were cut\n", kStopTailSeconds);
      engine.closeStream();
      if (writer) {
        writer->commit();
        const double seconds = double(writer->framesWritten()) / engine.settings().sampleRate;
        const int64_t clipped = writer->clippedSamples();
        const std::string clippedText =
            integerOutput && clipped > 0 ? ", " + std::to_string(clipped) + " samples clipped" : "";
        const int records = handled.load(), played = engine.notesPlayed();
        std::printf("vemora: wrote %s (%.3f s, %d record%s, %d note%s played, %d refused%s)\n",
                    printable(writer->path()).c_str(), seconds, records, records == 1 ? "" : "s", played,
                    played == 1 ? "" : "s", engine.notesRefused(), clippedText.c_str());
        std::fflush(stdout);
        // A float file keeps overs but not values that are no number: the
        // writer put 0 for NaN and full scale for infinity.
        if (!integerOutput && clipped > 0)
          std::fprintf(stderr,
                       "vemora: %s: %lld samples were NaN or infinite; they were written as 0 (NaN) or full scale "
                       "(infinite)\n",
                       printable(writer->path()).c_str(), static_cast<long long>(clipped));
      }
    } catch (const std::exception& error) {
      std::fprintf(stderr, "vemora: %s\n", error.what());
      failed = true;
    }
    cappedSink.reset();
    sink.reset();
    live.reset();
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
  if (!(impl->settings.maxSessionSeconds > 0.0) || !std::isfinite(impl->settings.maxSessionSeconds))
    throw ScoreError("the session's length must be a positive number of seconds");
  const std::string unserved = impl->confine();
  if (!unserved.empty())
    throw ScoreError("the folder \"" + impl->settings.rootFolder + "\" cannot be served: " + unserved);
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
  struct sigaction oldTerm {
  }, oldInt{};
  sigaction(SIGTERM, &action, &oldTerm);
  sigaction(SIGINT, &action, &oldInt);
  signal(SIGPIPE, SIG_IGN);

  bool stopping = false;
  while (!stopping && !impl->limitReached) {
    // A negative descriptor is skipped by poll: the resting listener.
    std::vector<pollfd> fds = {{impl->wakePipe[0], POLLIN, 0},
                               {impl->listenerPolled() ? impl->listenFd : -1, POLLIN, 0}};
    for (const Connection& connection : impl->connections) fds.push_back({connection.fd, POLLIN, 0});
    const int ready = poll(fds.data(), fds.size(), impl->pollTimeout());
    if (ready < 0 && errno != EINTR) break;
    impl->catchUp();
    if (fds[0].revents & POLLIN) stopping = true;
    if (fds[1].revents & POLLIN) impl->acceptConnections();
    // One turn: each connection with something to read gets one record.
    for (size_t i = 2; i < fds.size() && !impl->limitReached; ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      auto it = std::find_if(impl->connections.begin(), impl->connections.end(),
                             [&](const Connection& c) { return c.fd == fds[i].fd; });
      if (it != impl->connections.end() && !impl->takeTurn(*it)) impl->closeConnection(it);
    }
  }
  if (stopping) impl->drainAll();
  impl->finish();
  sigaction(SIGTERM, &oldTerm, nullptr);
  sigaction(SIGINT, &oldInt, nullptr);
  gWakeFd = -1;
  return impl->failed ? 1 : 0;
}

}  // namespace vemora
