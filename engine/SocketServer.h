// The engine's side of the score socket protocol: listens on 127.0.0.1,
// port 1102 + the socket number, reads whole 8296-byte records from any
// number of connections (each in order), checks every field before use and
// runs the command through the engine. Notes start relative to the moment
// their record arrives; rendering is paced by the wall clock into the
// output file, which is finished cleanly on SIGTERM or SIGINT.
//
// Any local process can connect, so what a record may ask for is bounded:
// file paths stay inside one folder, the rate and channel count and the
// session's length have ceilings, and connections take turns one record
// at a time so that none can hold the others back.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace vemora {

class Engine;
class LiveOutput;
class OutputSink;

struct ServerSettings {
  int socketNumber = 0;
  std::string defaultOutput;  // used when no rtoutput record names one
  std::string baseFolder;     // relative paths in records resolve against it
  // Where the stream goes once the first note arrives. Empty: a sound file
  // at the path that rtoutput named (or defaultOutput). rtoutput records are
  // checked either way.
  std::function<std::unique_ptr<OutputSink>()> openOutput;
  // When set, the paths of rtinput and rtoutput records must be relative,
  // have no ".." component and lead (symbolic links followed) into this
  // folder; others are refused. Empty: records may name any path.
  std::string rootFolder;
  // Output a session may write; reaching it finishes the file and ends the
  // session.
  double maxSessionSeconds = 21600.0;
  // Ceilings on what set_option records may ask for.
  int maxSampleRate = 192000;
  int maxChannels = 8;
  // Live playing (--play): opens the device when the stream opens. Blocks
  // then go to the device as well as to the file (written only when an
  // rtoutput record or defaultOutput names one), and the render is paced by
  // the device, the frames it has taken, instead of the clock below.
  std::function<std::unique_ptr<LiveOutput>()> openLive;
  // The clock that paces the render and places notes from their arrival.
  // Empty: the steady clock; a test may give one it moves itself.
  std::function<std::chrono::steady_clock::time_point()> clock;
};

class SocketServer {
 public:
  SocketServer(Engine& engine, ServerSettings settings);
  ~SocketServer();
  SocketServer(const SocketServer&) = delete;
  SocketServer& operator=(const SocketServer&) = delete;

  // Opens the listening socket; throws ScoreError when the port is taken
  // or the root folder cannot be found.
  void listen();
  int port() const;
  // Serves until stop() or SIGTERM/SIGINT, or until the session reaches
  // its length; finishes the output file. Records that clients had already
  // sent when the stop came (on connections still waiting to be accepted
  // too) are run first. Returns the process's exit status (0, or 1 when
  // the file failed).
  int serve();
  // Safe from a signal handler or another thread.
  void stop();

  // Records run so far; safe from another thread while serve() runs.
  int recordsHandled() const;

  // The record path without a socket: bytes as they would arrive on the
  // given connection (any number, split anywhere; the numbers are apart
  // from those of socket connections). Each whole record is checked and
  // run. Returns false once a malformed record has ended the connection;
  // later bytes for it are ignored. hangUp ends the connection as a close
  // does, reporting a record cut short.
  bool receive(int connection, const void* bytes, size_t size);
  void hangUp(int connection);

 private:
  struct Impl;
  Impl* impl;
};

}  // namespace vemora
