// The sound card, through PortAudio: the devices there are, and an output
// (optionally with input, full duplex) stream that plays what a ring holds.
//
// PortAudio rather than RtAudio: a plain C callback API whose callback is
// handed the device's buffer (and the input's, full duplex, in the same
// call), status flags for output underflow and input overflow, the latency
// the stream really got and the callback's CPU load; one device list over
// ALSA (and through it PulseAudio or PipeWire), JACK and OSS, listed without
// opening every device as RtAudio's probing does; and a stable ABI that
// Debian builds with both ALSA and JACK (portaudio19-dev).
//
// The stream's callback runs on the library's audio thread. It never blocks,
// locks, allocates or calls into the engine: it copies frames out of the ring
// (and input frames into another), counts the frames it took and counts an
// underrun when the ring held fewer than the device asked for. Every input
// callback adds exactly its frames to the input ring (silence in place of
// those the ring had no room for), so the input's frame f came in with the
// output's frame f.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "AudioRing.h"

namespace vemora {

// No device, a device that cannot open what was asked, a library failure.
struct DeviceError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct DeviceInfo {
  int index = 0;
  std::string name;
  std::string hostApi;  // "ALSA", "JACK Audio Connection Kit", "OSS"
  int outputChannels = 0;
  int inputChannels = 0;
  double defaultRate = 0.0;
  bool defaultOutput = false;
  bool defaultInput = false;
};

// The audio library, started while this lives. The probing of devices
// (ALSA names with no card behind them, a JACK server that is not running)
// makes a heap of messages on standard error; they are held back and only
// the last one is kept, for the error that names a device that failed.
// It never starts a JACK server of its own (JACK_NO_START_SERVER is set
// unless the environment already says otherwise).
class AudioSystem {
 public:
  AudioSystem();  // throws DeviceError
  ~AudioSystem();
  AudioSystem(const AudioSystem&) = delete;
  AudioSystem& operator=(const AudioSystem&) = delete;

  std::vector<DeviceInfo> devices() const;
  // A device from "INDEX" or a name (the whole name, or a part that only one
  // device's name holds, any case), or the default when wanted is empty.
  // Throws DeviceError naming the devices there are.
  DeviceInfo find(const std::string& wanted, bool forOutput) const;
  // The library's version text.
  static std::string version();
};

// Lists the devices on standard output (index, name, host API, channels,
// default rate; the defaults marked), or says there are none.
void printDevices(const AudioSystem& system);

struct StreamSettings {
  std::string outputDevice;  // empty: the default
  std::string inputDevice;   // empty: the default (only when inputChannels > 0)
  int sampleRate = 44100;
  int channels = 2;
  int inputChannels = 0;  // 0: output alone
  int bufferFrames = 0;   // 0: 256
};

// What the callback counts; read from any thread.
struct StreamCounters {
  std::atomic<int64_t> framesPlayed{0};  // frames taken from the ring
  std::atomic<int64_t> underruns{0};     // callbacks that found the ring short
  std::atomic<int64_t> overruns{0};      // callbacks that found the input ring full
  // Input frames the full ring could not take; each is kept in its place as
  // silence (written once the ring has room), so later frames keep their
  // index counted from the stream's start.
  std::atomic<int64_t> inputFramesLost{0};
  std::atomic<int64_t> callbacks{0};
  std::atomic<int64_t> deviceUnderflows{0};  // output or input underflows the library itself flagged
  // Set by the producer once it has written its first frame, and once it
  // has written its last: a ring that is empty before the first or after
  // the last is silence, not an underrun.
  std::atomic<bool> fed{false};
  std::atomic<bool> ended{false};
};

// An open stream, stopped until start().
class AudioStream {
 public:
  // out: what the callback plays; in: where input frames go (when
  // settings.inputChannels > 0). Throws DeviceError with a message that
  // names the device and what it supports.
  AudioStream(AudioSystem& system, const StreamSettings& settings, AudioRing& out, AudioRing* in = nullptr);
  ~AudioStream();  // aborts and closes
  AudioStream(const AudioStream&) = delete;
  AudioStream& operator=(const AudioStream&) = delete;

  void start();
  // Lets the frames the device holds play out, then stops.
  void stop();
  // Stops at once, dropping what the device holds.
  void abort();
  bool running() const;

  const StreamCounters& counters() const;
  StreamCounters& counters();
  const DeviceInfo& outputDevice() const;
  const DeviceInfo* inputDevice() const;  // null without input
  int bufferFrames() const;
  double outputLatency() const;  // seconds, as the library reports it
  double inputLatency() const;
  // The share of the buffer period the callback itself takes (0 to 1),
  // averaged by the library.
  double callbackLoad() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
};

}  // namespace vemora
