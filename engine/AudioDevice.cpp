#include "AudioDevice.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "PortAudioLibrary.h"

namespace vemora {
namespace {

constexpr int kDefaultBufferFrames = 256;

// Standard error, sent into a temporary file while the library probes or
// opens devices: ALSA and JACK print a line for every name with no card or
// server behind it. Only the last line is kept, for an error message.
// Used on the main thread only, before the audio thread runs or while it
// is being made.
class HeldMessages {
 public:
  HeldMessages() {
    std::fflush(stderr);
    saved = dup(STDERR_FILENO);
    held = std::tmpfile();
    if (saved < 0 || !held || dup2(fileno(held), STDERR_FILENO) < 0) restore();
  }
  ~HeldMessages() {
    restore();
    if (held) std::fclose(held);
  }
  HeldMessages(const HeldMessages&) = delete;
  HeldMessages& operator=(const HeldMessages&) = delete;

  // The last line the libraries printed, or an empty text.
  std::string lastLine() {
    restore();
    if (!held) return {};
    std::string text;
    std::rewind(held);
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, held)) > 0;) text.append(chunk, n);
    std::string last;
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
      if (!line.empty()) last = line;
      start = end + 1;
    }
    return last;
  }

 private:
  void restore() {
    if (saved < 0) return;
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    saved = -1;
  }
  int saved = -1;
  std::FILE* held = nullptr;
};

std::string said(const std::string& line) { return line.empty() ? "" : " (the audio library said: " + line + ")"; }

DeviceInfo infoOf(PaDeviceIndex index) {
  const PaDeviceInfo* device = portAudio().GetDeviceInfo(index);
  DeviceInfo info;
  info.index = index;
  if (!device) return info;
  info.name = device->name ? device->name : "";
  const PaHostApiInfo* api = portAudio().GetHostApiInfo(device->hostApi);
  info.hostApi = api && api->name ? api->name : "";
  info.outputChannels = device->maxOutputChannels;
  info.inputChannels = device->maxInputChannels;
  info.defaultRate = device->defaultSampleRate;
  info.defaultOutput = index == portAudio().GetDefaultOutputDevice();
  info.defaultInput = index == portAudio().GetDefaultInputDevice();
  return info;
}

std::string lowered(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string described(const DeviceInfo& device) { return "\"" + device.name + "\" (" + device.hostApi + ")"; }

std::string rateText(double rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%g Hz", rate);
  return text;
}

}  // namespace

AudioSystem::AudioSystem() {
  // A JACK client started by the library would start a server of its own
  // (taking the sound card from whoever has it) when none runs.
  setenv("JACK_NO_START_SERVER", "1", 0);
  HeldMessages held;
  const PaError error = portAudio().Initialize();
  if (error != paNoError)
    throw DeviceError(std::string("the audio library could not start: ") + portAudio().GetErrorText(error) +
                      said(held.lastLine()));
}

AudioSystem::~AudioSystem() {
  HeldMessages held;
  portAudio().Terminate();
}

std::string AudioSystem::version() {
  const char* text = portAudio().GetVersionText();
  return text ? text : "PortAudio";
}

std::vector<DeviceInfo> AudioSystem::devices() const {
  std::vector<DeviceInfo> all;
  const PaDeviceIndex count = portAudio().GetDeviceCount();
  for (PaDeviceIndex i = 0; i < count; ++i) all.push_back(infoOf(i));
  return all;
}

DeviceInfo AudioSystem::find(const std::string& wanted, bool forOutput) const {
  const char* what = forOutput ? "output" : "input";
  auto usable = [&](const DeviceInfo& d) { return (forOutput ? d.outputChannels : d.inputChannels) > 0; };
  const std::vector<DeviceInfo> all = devices();
  if (wanted.empty()) {
    const PaDeviceIndex index = forOutput ? portAudio().GetDefaultOutputDevice() : portAudio().GetDefaultInputDevice();
    if (index == paNoDevice || index < 0 || index >= PaDeviceIndex(all.size()))
      throw DeviceError(std::string("there is no default ") + what +
                        " device (no sound card, no JACK server and no ALSA default that opens; "
                        "vemora --list-devices shows what the audio library found)");
    return all[size_t(index)];
  }
  std::string known;
  for (const DeviceInfo& d : all)
    if (usable(d)) known += (known.empty() ? "" : ", ") + std::to_string(d.index) + " " + described(d);
  if (known.empty()) known = "none";
  const bool number =
      std::all_of(wanted.begin(), wanted.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
  // A device that is there but cannot do what is asked is named as such.
  auto lacking = [&](const DeviceInfo& d) {
    return DeviceError("the device " + std::to_string(d.index) + " " + described(d) + " has no " + what +
                       " channels (" + what + " devices: " + known + ")");
  };
  if (number && wanted.size() < 9) {
    const int index = std::atoi(wanted.c_str());
    if (index < int(all.size()) && usable(all[size_t(index)])) return all[size_t(index)];
    if (index < int(all.size())) throw lacking(all[size_t(index)]);
    throw DeviceError(std::string("there is no ") + what + " device number " + wanted + " (" + what +
                      " devices: " + known + ")");
  }
  for (const DeviceInfo& d : all)
    if (usable(d) && d.name == wanted) return d;
  for (const DeviceInfo& d : all)
    if (d.name == wanted) throw lacking(d);
  const DeviceInfo* match = nullptr;
  int matches = 0;
  for (const DeviceInfo& d : all)
    if (usable(d) && lowered(d.name).find(lowered(wanted)) != std::string::npos) {
      match = &d;
      ++matches;
    }
  if (matches == 1) return *match;
  throw DeviceError(std::string(matches == 0 ? "no " : "more than one ") + what + " device is named \"" + wanted +
                    "\" (" + what + " devices: " + known + ")");
}

void printDevices(const AudioSystem& system) {
  const std::vector<DeviceInfo> all = system.devices();
  std::printf("audio devices (%s):\n", AudioSystem::version().c_str());
  if (all.empty()) std::printf("  none: no sound card, no JACK server and no ALSA device that opens\n");
  for (const DeviceInfo& d : all) {
    std::string marks;
    if (d.defaultOutput) marks += "default output";
    if (d.defaultInput) marks += std::string(marks.empty() ? "" : ", ") + "default input";
    std::printf("  %3d  %-28s %-28s out %3d  in %3d  %8.0f Hz%s%s%s\n", d.index, d.name.c_str(), d.hostApi.c_str(),
                d.outputChannels, d.inputChannels, d.defaultRate, marks.empty() ? "" : "  (", marks.c_str(),
                marks.empty() ? "" : ")");
  }
  std::fflush(stdout);
}

struct AudioStream::Impl {
  PaStream* stream = nullptr;
  AudioRing* out = nullptr;
  AudioRing* in = nullptr;
  size_t outChannels = 0;
  StreamCounters counters;
  DeviceInfo output;
  DeviceInfo input;
  bool hasInput = false;
  int bufferFrames = 0;
  double outputLatency = 0.0;
  double inputLatency = 0.0;
  bool running = false;

  // Silence to put in place of lost input frames, made with the stream.
  std::vector<float> zeros;
  size_t zeroFrames = 0;
  size_t owed = 0;  // input frames lost, not yet put in the ring as silence

  // The audio thread: puts the callback's input frames (silence when the
  // library gave none) into the input ring after the silence owed for
  // frames lost before; returns how many frames it could not take.
  size_t capture(const float* frames, size_t count) {
    while (owed > 0) {
      const size_t n = std::min(owed, zeroFrames);
      const size_t taken = in->write(zeros.data(), n);
      owed -= taken;
      if (taken < n) break;
    }
    size_t taken = 0;
    if (owed == 0 && frames) {
      taken = in->write(frames, count);
    } else if (owed == 0) {
      while (taken < count) {
        const size_t n = std::min(count - taken, zeroFrames);
        const size_t put = in->write(zeros.data(), n);
        taken += put;
        if (put < n) break;
      }
    }
    owed += count - taken;
    return count - taken;
  }

  // The audio thread. Copies only; counts with relaxed atomics.
  static int callback(const void* inputFrames, void* outputFrames, unsigned long frames,
                      const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags flags, void* user) {
    Impl& self = *static_cast<Impl*>(user);
    StreamCounters& c = self.counters;
    // Read before the ring: when the producer had ended, every frame it
    // wrote is in the ring, and a short ring is the end, not an underrun.
    const bool counting = !c.ended.load(std::memory_order_acquire) && c.fed.load(std::memory_order_acquire);
    float* out = static_cast<float*>(outputFrames);
    const size_t got = self.out->read(out, frames);
    if (got < frames) {
      std::memset(out + got * self.outChannels, 0, (frames - got) * self.outChannels * sizeof(float));
      if (counting) c.underruns.fetch_add(1, std::memory_order_relaxed);
    }
    c.framesPlayed.fetch_add(int64_t(got), std::memory_order_relaxed);
    // Full duplex, a device that fell short on input hands the callback
    // silence in its place, and the input no longer keeps step with the
    // output: as much the device's own underflow as one on the output.
    if (flags & (paOutputUnderflow | paInputUnderflow)) c.deviceUnderflows.fetch_add(1, std::memory_order_relaxed);
    // Once the render has ended nobody reads the input: it is left alone.
    if (self.in && !c.ended.load(std::memory_order_relaxed)) {
      const size_t lost = self.capture(static_cast<const float*>(inputFrames), frames);
      if (lost > 0) c.inputFramesLost.fetch_add(int64_t(lost), std::memory_order_relaxed);
      if (lost > 0 || (flags & paInputOverflow)) c.overruns.fetch_add(1, std::memory_order_relaxed);
    }
    c.callbacks.fetch_add(1, std::memory_order_relaxed);
    return paContinue;
  }
};

AudioStream::AudioStream(AudioSystem& system, const StreamSettings& settings, AudioRing& out, AudioRing* in)
    : impl(std::make_unique<Impl>()) {
  impl->out = &out;
  impl->outChannels = size_t(settings.channels);
  impl->bufferFrames = settings.bufferFrames > 0 ? settings.bufferFrames : kDefaultBufferFrames;
  const double rate = settings.sampleRate;
  const double latency = double(impl->bufferFrames) / rate;

  impl->output = system.find(settings.outputDevice, true);
  if (impl->output.outputChannels < settings.channels)
    throw DeviceError("the output device " + described(impl->output) + " cannot play " +
                      std::to_string(settings.channels) + " channels: it has " +
                      std::to_string(impl->output.outputChannels) +
                      " (set_option(\"channels=N\") in the score, or choose another with --device)");
  PaStreamParameters outParams{};
  outParams.device = impl->output.index;
  outParams.channelCount = settings.channels;
  outParams.sampleFormat = paFloat32;
  outParams.suggestedLatency = latency;

  PaStreamParameters inParams{};
  if (settings.inputChannels > 0) {
    impl->in = in;
    impl->hasInput = true;
    impl->zeroFrames = size_t(std::max(impl->bufferFrames, kDefaultBufferFrames));
    impl->zeros.assign(impl->zeroFrames * size_t(settings.inputChannels), 0.0f);
    impl->input = system.find(settings.inputDevice, false);
    if (impl->input.inputChannels < settings.inputChannels)
      throw DeviceError("the input device " + described(impl->input) + " cannot record " +
                        std::to_string(settings.inputChannels) + " channels: it has " +
                        std::to_string(impl->input.inputChannels));
    inParams.device = impl->input.index;
    inParams.channelCount = settings.inputChannels;
    inParams.sampleFormat = paFloat32;
    inParams.suggestedLatency = latency;
  }
  PaStreamParameters* inPtr = impl->hasInput ? &inParams : nullptr;
  // Full duplex, either side may be what cannot open: both are named.
  const std::string recording = impl->hasInput ? " while recording " + std::to_string(settings.inputChannels) +
                                                     " channels from the input device " + described(impl->input) +
                                                     " (it has " + std::to_string(impl->input.inputChannels) + ")"
                                               : "";

  HeldMessages held;
  const PaError supported = portAudio().IsFormatSupported(inPtr, &outParams, rate);
  if (supported != paFormatIsSupported) {
    const std::string line = held.lastLine();
    throw DeviceError("the output device " + described(impl->output) + " cannot play " +
                      std::to_string(settings.channels) + " channels at " + rateText(rate) + recording + ": " +
                      portAudio().GetErrorText(supported) + "; it has " + std::to_string(impl->output.outputChannels) +
                      " output channels and runs at " + rateText(impl->output.defaultRate) +
                      " by default (Vemora does not resample: set_option(\"sr=N\") in the score, or another device)" +
                      said(line));
  }
  const PaError opened = portAudio().OpenStream(&impl->stream, inPtr, &outParams, rate, unsigned(impl->bufferFrames),
                                                paDitherOff, &Impl::callback, impl.get());
  if (opened != paNoError) {
    impl->stream = nullptr;
    const std::string line = held.lastLine();
    throw DeviceError("cannot open the output device " + described(impl->output) + " for " +
                      std::to_string(settings.channels) + " channels at " + rateText(rate) + recording + ": " +
                      portAudio().GetErrorText(opened) + said(line));
  }
  // PortAudio's ALSA thread runs at normal priority unless asked: on a
  // busy machine it then comes late, the device runs dry and ALSA restarts
  // it with silence. Where the system grants it (root, an rtprio limit, the
  // audio group) it runs SCHED_FIFO; elsewhere the request is ignored.
  // (A JACK device runs in the JACK server's realtime thread already.)
  if (portAudio().GetHostApiInfo(portAudio().GetDeviceInfo(impl->output.index)->hostApi)->type == paALSA)
    portAudio().AlsaEnableRealtimeScheduling(impl->stream, 1);
  if (const PaStreamInfo* info = portAudio().GetStreamInfo(impl->stream)) {
    impl->outputLatency = info->outputLatency;
    impl->inputLatency = info->inputLatency;
  }
}

AudioStream::~AudioStream() {
  if (!impl->stream) return;
  HeldMessages held;
  if (impl->running) portAudio().AbortStream(impl->stream);
  portAudio().CloseStream(impl->stream);
}

void AudioStream::start() {
  const PaError error = portAudio().StartStream(impl->stream);
  if (error != paNoError)
    throw DeviceError("cannot start the output device " + described(impl->output) + ": " +
                      portAudio().GetErrorText(error));
  impl->running = true;
}

void AudioStream::stop() {
  if (!impl->running) return;
  impl->running = false;
  portAudio().StopStream(impl->stream);
}

void AudioStream::abort() {
  if (!impl->running) return;
  impl->running = false;
  portAudio().AbortStream(impl->stream);
}

bool AudioStream::running() const { return impl->running; }
const StreamCounters& AudioStream::counters() const { return impl->counters; }
StreamCounters& AudioStream::counters() { return impl->counters; }
const DeviceInfo& AudioStream::outputDevice() const { return impl->output; }
const DeviceInfo* AudioStream::inputDevice() const { return impl->hasInput ? &impl->input : nullptr; }
int AudioStream::bufferFrames() const { return impl->bufferFrames; }
double AudioStream::outputLatency() const { return impl->outputLatency; }
double AudioStream::inputLatency() const { return impl->inputLatency; }
double AudioStream::callbackLoad() const { return impl->stream ? portAudio().GetStreamCpuLoad(impl->stream) : 0.0; }

}  // namespace vemora
