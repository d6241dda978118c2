// Playing the engine's output through the sound card as it renders.
//
// The render runs on the caller's thread (the render thread) ahead of the
// device: each block goes into a ring that the device's callback empties.
// When the ring is full the render thread waits (sleeping briefly, never
// making the callback wait), so the render is paced by the device's clock,
// the samples it consumes, and not by the wall clock: what is played is
// exactly what a file render of the same score writes.
//
// A file written alongside (--output, rtoutput) gets the frames the device
// has taken: should playback stop early (Ctrl-C), the file holds what was
// played, no more.
//
// A score that reads the input device (rtinput("device"), LiveInput.h)
// plays full duplex: the render is paced by the input as well, and the
// device first plays a lead-in of silence (never written to the file) so
// that the input frame a note reads has come in before its output frame is
// rendered.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AudioDevice.h"
#include "AudioRing.h"
#include "Engine.h"
#include "LiveInput.h"

namespace vemora {

class SoundFileWriter;

// A stop asked for during playback (the signal's number).
struct PlaybackStopped {
  int signal;
};

// Live options from the command line.
struct LiveOptions {
  std::string device;       // --device NAME|INDEX; empty: the default
  std::string inputDevice;  // --input-device NAME|INDEX; empty: the default
  int bufferFrames = 256;   // --buffer FRAMES
  // The file's dither, as a render's (--dither); empty: the engine's setting.
  std::optional<Dither> dither;
  // What rtinput("device") opened, when the score read the input device.
  std::shared_ptr<LiveInput> input;
};

// The input device as the score opens it (rtinput("device")): the device
// --input-device names (or the default input), with as many channels as
// the output has when it has them, else all it has. Throws ScoreError
// naming the device when there is none or it has no input.
std::shared_ptr<LiveInput> findInputDevice(const std::string& wanted, const EngineSettings& settings);

// The sink that plays: blocks go into the ring (and, as the device takes
// them, into the file).
class LivePlayer : public OutputSink {
 public:
  // leadFrames: how far the render may run ahead of the device. stopRequested
  // returns a signal's number once a stop is asked (0 until then); the
  // player then throws PlaybackStopped from write() or finish().
  LivePlayer(AudioStream& stream, AudioRing& ring, int sampleRate, SoundFileWriter* file,
             std::function<int()> stopRequested);
  void write(const float* interleaved, int frames) override;
  // After the last block: lets the ring and the device play out, then
  // writes the rest of the file (not committed).
  void finish();
  // After a stop: silences the device at once and writes to the file the
  // frames the device took.
  void stopNow();
  // Full duplex, before the render: puts the lead-in silence in the ring,
  // starts the device and waits for the input that the first block may read.
  void hearInput(LiveInput& input, AudioRing& inputRing, int blockFrames, int64_t leadFrames);

  // Frames rendered that may wait in the ring, up to its capacity.
  int64_t framesRendered() const { return rendered; }
  int64_t framesPlayed() const;
  const std::vector<float>& peaks() const { return peak; }
  // The share of the device's time its callback took, as last seen running.
  double callbackLoad() const { return load; }
  // Says any new underrun on standard error, at most once a second.
  void reportUnderruns() const;

 private:
  void waitAWhile();
  void fileWhatWasPlayed();
  void startIfNeeded();
  // Waits until the input has come in up to frame `to`, then lets notes read it.
  void awaitInput(int64_t to);

  AudioStream& stream;
  AudioRing& ring;
  int sampleRate;
  int channels;
  SoundFileWriter* file;
  std::function<int()> stopRequested;
  int64_t rendered = 0;
  std::vector<float> peak;
  // Frames rendered but not yet in the file: the ring's frames, kept on
  // this side so the callback never touches the file.
  std::vector<float> backlog;
  size_t backlogFiled = 0;   // samples at its front already in the file
  int64_t backlogStart = 0;  // the frame at backlog[backlogFiled]
  // Said on standard error so far (a socket session asks from const code).
  mutable int64_t underrunsSaid = 0;
  mutable std::chrono::steady_clock::time_point lastUnderrunLine{};
  double load = 0.0;
  int64_t lastPlayed = -1;  // when the device last took or gave frames
  std::chrono::steady_clock::time_point lastMoved{};
  LiveInput* input = nullptr;  // full duplex
  AudioRing* inputRing = nullptr;
  int inputBlock = 0;
  int64_t leadIn = 0;  // frames of silence the device plays before the render's
};

// What a played render did.
struct PlayReport {
  std::string outputPath;  // empty: no file was written
  int64_t framesRendered = 0;
  int64_t framesPlayed = 0;
  int channels = 0;
  int sampleRate = 0;
  std::vector<float> peaks;
  int64_t clippedSamples = 0;
  bool integerFormat = false;
  int notesPlayed = 0;
  int notesRefused = 0;
  int inputsChanged = 0;
  DeviceInfo device;
  int bufferFrames = 0;
  double latencySeconds = 0.0;
  int64_t underruns = 0;         // the render fell behind: the ring was empty
  int64_t deviceUnderflows = 0;  // the library flagged the device short
  double callbackLoad = 0.0;
  double seconds = 0.0;
  int stoppedBy = 0;  // a signal's number when playback was stopped
  // Full duplex (the score read the input device).
  bool heardInput = false;
  DeviceInfo inputDevice;
  int inputChannels = 0;
  double inputLatencySeconds = 0.0;
  int64_t leadInFrames = 0;
  int64_t inputFramesLost = 0;  // overruns: the input ring was full
};

// Plays every note the engine holds through the output device (and into
// outputPath, with the sample format sampleText, unless it is empty).
// Opens the device before anything is written: a device that cannot open
// throws DeviceError. A stop (stopRequested not 0) ends playback at once;
// the file then holds what was played and the report says the signal.
PlayReport playScore(Engine& engine, const LiveOptions& options, const std::string& outputPath,
                     const std::string& sampleText, const std::function<int()>& stopRequested);

// A session heard as it runs (socket mode with --play): the device opened
// when the session's stream opens (its rate and channels are final then).
// The server renders a block only when the ring has room for it, so its
// clock is the device's, and the ring holds one block and one device buffer
// at most: a note reaches the device at most that long after its record
// arrived.
class LiveOutput {
 public:
  virtual ~LiveOutput() = default;
  virtual OutputSink& sink() = 0;
  // Frames the render may add now.
  virtual int64_t room() const = 0;
  // A record arrived, with the render at streamPosition: a note placed now
  // (start 0) leaves the engine once the frames ahead of it have been
  // taken. Measures that delay for the closing report.
  virtual void recordArrived(int64_t streamPosition) = 0;
  // After the last block: lets the ring and the device play out.
  virtual void finish() = 0;
};

// What a live session did, for its closing line.
struct LiveSessionReport {
  bool opened = false;
  DeviceInfo device;
  int bufferFrames = 0;
  int ringFrames = 0;            // the most the render runs ahead of the device
  int64_t records = 0;           // records that arrived while the device played
  int64_t worstDelayFrames = 0;  // the most frames ahead of a record's note
  double latencySeconds = 0.0;
  int64_t underruns = 0;
  int64_t deviceUnderflows = 0;
  double callbackLoad = 0.0;
  // Full duplex (a record named the input device before the first note).
  bool heardInput = false;
  DeviceInfo inputDevice;
  int inputChannels = 0;
  int64_t leadInFrames = 0;
  int64_t inputFramesLost = 0;
};

// Opens the device for a session of the engine's rate and channels (throws
// DeviceError); report (if given) is kept up to date until the session ends.
std::unique_ptr<LiveOutput> openLiveOutput(const LiveOptions& options, const EngineSettings& settings,
                                           LiveSessionReport* report);

// The line that closes a live session, on standard output.
void printLiveSessionReport(const LiveSessionReport& report, int sampleRate, int blockFrames);

// The closing report of a played render, on standard output.
void printPlayReport(const PlayReport& report, const std::string& scoreName);

}  // namespace vemora
