#include "LivePlayer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <thread>

#include "PrintableText.h"
#include "SoundOutput.h"

namespace vemora {
namespace {

using Clock = std::chrono::steady_clock;

// A device that takes no frame for this long has stopped (a JACK server
// that went away, a device unplugged): playback ends with an error rather
// than waiting for ever.
constexpr auto kStalled = std::chrono::seconds(5);
constexpr auto kUnderrunLineInterval = std::chrono::seconds(1);

// Full duplex, the device plays this much silence first, so that what a
// note reads has come in before its frames are rendered: the block itself,
// the block beyond it that a note may read ahead, a block's time to render
// it, and a device buffer on either side of the render's wait for the input.
int64_t inputLeadIn(int blockFrames, int bufferFrames) {
  return 3 * int64_t(blockFrames) + 2 * int64_t(std::max(bufferFrames, 1));
}

std::string dbfs(float peak) {
  if (!(peak > 0.0f)) return "-inf";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", 20.0 * std::log10(double(peak)));
  return text;
}

}  // namespace

LivePlayer::LivePlayer(AudioStream& stream, AudioRing& ring, int sampleRate, SoundFileWriter* file,
                       std::function<int()> stopRequested)
    : stream(stream),
      ring(ring),
      sampleRate(sampleRate),
      channels(ring.channelCount()),
      file(file),
      stopRequested(std::move(stopRequested)),
      peak(size_t(ring.channelCount()), 0.0f) {}

// The render's frames the device has taken, the lead-in's not counted.
int64_t LivePlayer::framesPlayed() const {
  return std::max<int64_t>(0, stream.counters().framesPlayed.load(std::memory_order_acquire) - leadIn);
}

void LivePlayer::write(const float* interleaved, int frames) {
  const size_t samples = size_t(frames) * size_t(channels);
  for (size_t i = 0; i < samples; ++i) {
    float& p = peak[i % size_t(channels)];
    p = std::max(p, std::fabs(interleaved[i]));
  }
  if (file) backlog.insert(backlog.end(), interleaved, interleaved + samples);
  size_t done = 0;
  while (done < size_t(frames)) {
    done += ring.write(interleaved + done * size_t(channels), size_t(frames) - done);
    if (done > 0) stream.counters().fed.store(true, std::memory_order_release);
    if (done < size_t(frames)) {
      // The ring is full: the device has all it needs for now.
      startIfNeeded();
      waitAWhile();
    }
  }
  rendered += frames;
  // The next block may read its own frames and a block beyond them.
  if (input) awaitInput(rendered + 2 * int64_t(inputBlock));
  fileWhatWasPlayed();
  reportUnderruns();
}

void LivePlayer::hearInput(LiveInput& heard, AudioRing& from, int blockFrames, int64_t leadFrames) {
  input = &heard;
  inputRing = &from;
  inputBlock = blockFrames;
  heard.attach(from);
  // The lead-in goes in whole before the device starts, so that the
  // device's first input frame comes in with the lead-in's first frame.
  std::vector<float> silence(size_t(std::min<int64_t>(leadFrames, 4096)) * size_t(channels), 0.0f);
  for (int64_t put = 0; put < leadFrames;) {
    const size_t n = size_t(std::min<int64_t>(leadFrames - put, int64_t(silence.size()) / channels));
    const size_t done = ring.write(silence.data(), n);
    put += int64_t(done);
    if (done < n) throw DeviceError("the output ring cannot hold the input's lead-in");
  }
  leadIn = leadFrames;
  stream.counters().fed.store(true, std::memory_order_release);
  startIfNeeded();
  awaitInput(2 * int64_t(blockFrames));
}

void LivePlayer::awaitInput(int64_t to) {
  while (input->arrived() < to) waitAWhile();
  input->advanceTo(to);
}

void LivePlayer::startIfNeeded() {
  if (!stream.running()) stream.start();
}

void LivePlayer::waitAWhile() {
  if (const int signal = stopRequested ? stopRequested() : 0) throw PlaybackStopped{signal};
  fileWhatWasPlayed();
  reportUnderruns();
  // Full duplex, the device moves when it takes output or gives input.
  const int64_t moved = stream.counters().callbacks.load(std::memory_order_relaxed) + framesPlayed();
  const auto now = Clock::now();
  if (moved != lastPlayed) {
    lastPlayed = moved;
    lastMoved = now;
  } else if (now - lastMoved > kStalled) {
    const std::string seconds =
        std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kStalled).count()) + " s";
    const std::string inputToo = input ? " and the input device \"" + input->device().name + "\"" : "";
    throw DeviceError("the output device \"" + stream.outputDevice().name + "\"" + inputToo +
                      " stopped taking sound (for " + seconds + ")");
  }
  // A quarter of the device's period: the ring is refilled well before
  // the next callback needs it.
  const double period = double(stream.bufferFrames()) / sampleRate;
  std::this_thread::sleep_for(std::chrono::duration<double>(std::clamp(period / 4, 0.0002, 0.005)));
}

void LivePlayer::fileWhatWasPlayed() {
  if (!file) return;
  const int64_t n = std::min<int64_t>(framesPlayed(), rendered) - backlogStart;
  if (n <= 0) return;
  const size_t samples = size_t(n) * size_t(channels);
  file->write(backlog.data() + backlogFiled, int(n));
  backlogFiled += samples;
  backlogStart += n;
  // What was filed goes once it is half the backlog: moved rarely, not on
  // every block.
  if (backlogFiled * 2 >= backlog.size()) {
    backlog.erase(backlog.begin(), backlog.begin() + std::ptrdiff_t(backlogFiled));
    backlogFiled = 0;
  }
}

void LivePlayer::reportUnderruns() const {
  const int64_t count = stream.counters().underruns.load(std::memory_order_relaxed);
  if (count == underrunsSaid) return;
  const auto now = Clock::now();
  if (underrunsSaid != 0 && now - lastUnderrunLine < kUnderrunLineInterval) return;
  std::fprintf(stderr, "vemora: underrun at %.2f s: the render fell behind the device (%lld so far)\n",
               double(framesPlayed()) / sampleRate, static_cast<long long>(count));
  underrunsSaid = count;
  lastUnderrunLine = now;
}

void LivePlayer::finish() {
  stream.counters().ended.store(true, std::memory_order_release);
  startIfNeeded();
  while (ring.readable() > 0) waitAWhile();
  load = stream.callbackLoad();  // while it still runs
  stream.stop();                 // the frames the device holds play out
  fileWhatWasPlayed();
  reportUnderruns();
}

void LivePlayer::stopNow() {
  load = stream.callbackLoad();
  stream.abort();
  fileWhatWasPlayed();
}

PlayReport playScore(Engine& engine, const LiveOptions& options, const std::string& outputPath,
                     const std::string& sampleText, const std::function<int()>& stopRequested) {
  const EngineSettings& settings = engine.settings();
  PlayReport report;
  report.channels = settings.channels;
  report.sampleRate = settings.sampleRate;
  // An unusable output name is refused before the device is taken.
  std::optional<OutputFormat> format;
  if (!outputPath.empty()) format = outputFormatFor(outputPath, sampleText);

  AudioSystem system;
  StreamSettings streamSettings;
  streamSettings.outputDevice = options.device;
  streamSettings.sampleRate = settings.sampleRate;
  streamSettings.channels = settings.channels;
  streamSettings.bufferFrames = options.bufferFrames;
  // How far the render runs ahead: a few device buffers, two blocks, and at
  // least half a second, so that a block that renders slowly now and then,
  // or a busy machine that keeps the render thread waiting, is absorbed.
  // Nothing waits on it: it fills in a moment when the score renders fast,
  // and a stop drops what it holds.
  const int buffer = std::max(options.bufferFrames, 1);
  size_t lead = size_t(std::max({4 * buffer, 2 * settings.blockFrames + buffer, settings.sampleRate / 2}));
  // Full duplex: the input ring holds what comes in while the render is
  // behind, as the output ring holds what it has rendered ahead.
  const std::shared_ptr<LiveInput>& input = options.input;
  const int64_t leadIn = input ? inputLeadIn(settings.blockFrames, buffer) : 0;
  lead = std::max(lead, size_t(leadIn + 2 * settings.blockFrames));
  std::optional<AudioRing> inputRing;
  if (input) {
    inputRing.emplace(input->channels(), lead);
    streamSettings.inputDevice = options.inputDevice;
    streamSettings.inputChannels = input->channels();
  }
  AudioRing ring(settings.channels, lead);
  AudioStream stream(system, streamSettings, ring, inputRing ? &*inputRing : nullptr);

  std::unique_ptr<SoundFileWriter> writer;
  if (format)
    writer = std::make_unique<SoundFileWriter>(outputPath, *format, settings.channels, settings.sampleRate,
                                               engine.scoreFrames());
  // Dithered as a render's file is, so that the two are the same file.
  if (writer && options.dither.value_or(settings.dither) == Dither::Tpdf) writer->ditherWith(settings.seed);
  LivePlayer player(stream, ring, settings.sampleRate, writer.get(), stopRequested);
  const auto begin = Clock::now();
  try {
    if (input) player.hearInput(*input, *inputRing, settings.blockFrames, leadIn);
    engine.render(player);
    player.finish();
  } catch (const PlaybackStopped& stop) {
    player.stopNow();
    report.stoppedBy = stop.signal;
  }
  report.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  report.framesRendered = player.framesRendered();
  report.framesPlayed = std::min(player.framesPlayed(), player.framesRendered());
  report.peaks = player.peaks();
  if (writer) {
    writer->commit();
    report.outputPath = writer->path();
    report.peaks = writer->peaks();
    report.clippedSamples = writer->clippedSamples();
    report.integerFormat = format->sample != SampleFormat::Float32;
  }
  report.notesPlayed = engine.notesPlayed();
  report.notesRefused = engine.notesRefused();
  report.inputsChanged = engine.inputsChanged();
  report.device = stream.outputDevice();
  report.bufferFrames = stream.bufferFrames();
  report.latencySeconds = stream.outputLatency();
  report.underruns = stream.counters().underruns.load();
  report.deviceUnderflows = stream.counters().deviceUnderflows.load();
  report.callbackLoad = player.callbackLoad();
  if (const DeviceInfo* device = stream.inputDevice()) {
    report.heardInput = true;
    report.inputDevice = *device;
    report.inputChannels = input->channels();
    report.inputLatencySeconds = stream.inputLatency();
    report.leadInFrames = leadIn;
    report.inputFramesLost = stream.counters().inputFramesLost.load();
  }
  return report;
}

std::shared_ptr<LiveInput> findInputDevice(const std::string& wanted, const EngineSettings& settings) {
  try {
    AudioSystem system;
    DeviceInfo device = system.find(wanted, false);  // one with input channels
    const int channels = std::min(device.inputChannels, settings.channels);
    return std::make_shared<LiveInput>(std::move(device), channels, double(settings.sampleRate));
  } catch (const DeviceError& error) {
    throw ScoreError(std::string("rtinput: ") + error.what() + " (--input-device chooses another)");
  }
}

namespace {

class DeviceOutput : public LiveOutput {
 public:
  DeviceOutput(const LiveOptions& options, const EngineSettings& settings, LiveSessionReport* report)
      : input(options.input),
        blockFrames(settings.blockFrames),
        leadIn(input ? inputLeadIn(settings.blockFrames, options.bufferFrames) : 0),
        ring(settings.channels, size_t(settings.blockFrames + 4 * std::max(options.bufferFrames, 256) + leadIn)),
        // Half a second of input for a server that is late to render.
        inputRing(input ? input->channels() : 1,
                  input ? std::max(ring.capacityFrames(), size_t(settings.sampleRate / 2)) : 1),
        stream(system, streamSettings(options, settings), ring, input ? &inputRing : nullptr),
        player(stream, ring, settings.sampleRate, nullptr, {}),
        report(report) {
    // The render runs ahead of the device by a block and the device's
    // buffer: the buffer as asked, or as the device reports it when it is
    // more (ALSA holds two periods or more). Less would underrun when the
    // device takes its buffer at once.
    const int64_t deviceFrames =
        std::max<int64_t>(stream.bufferFrames(), std::llround(stream.outputLatency() * settings.sampleRate));
    limit = std::min<int64_t>(settings.blockFrames + deviceFrames, int64_t(ring.capacityFrames()));
    // The device plays silence until the first block: that is no underrun.
    // Full duplex, the lead-in is played first, and the input the first
    // block may read waited for.
    if (input)
      player.hearInput(*input, inputRing, blockFrames, leadIn);
    else
      stream.start();
    if (report) {
      report->opened = true;
      report->device = stream.outputDevice();
      report->bufferFrames = stream.bufferFrames();
      report->ringFrames = int(limit);
      report->latencySeconds = stream.outputLatency();
      if (const DeviceInfo* device = stream.inputDevice()) {
        report->heardInput = true;
        report->inputDevice = *device;
        report->inputChannels = input->channels();
        report->leadInFrames = leadIn;
      }
    }
  }
  ~DeviceOutput() override { update(); }

  OutputSink& sink() override { return player; }
  int64_t room() const override {
    player.reportUnderruns();
    int64_t frames = limit - int64_t(ring.readable());
    // Full duplex, a block is rendered once the input has come in as far as
    // the block after it, so the render never waits for it.
    if (input) frames = std::min(frames, input->arrived() - player.framesRendered() - 2 * int64_t(blockFrames));
    return std::max<int64_t>(0, frames);
  }
  void recordArrived(int64_t streamPosition) override {
    if (!report) return;
    ++report->records;
    report->worstDelayFrames = std::max(report->worstDelayFrames, streamPosition - player.framesPlayed());
  }
  void finish() override {
    player.finish();
    update();
  }

 private:
  static StreamSettings streamSettings(const LiveOptions& options, const EngineSettings& settings) {
    StreamSettings s;
    s.outputDevice = options.device;
    s.sampleRate = settings.sampleRate;
    s.channels = settings.channels;
    s.bufferFrames = options.bufferFrames;
    if (options.input) {
      s.inputDevice = options.inputDevice;
      s.inputChannels = options.input->channels();
    }
    return s;
  }
  void update() {
    if (!report) return;
    report->inputFramesLost = stream.counters().inputFramesLost.load();
    report->underruns = stream.counters().underruns.load();
    report->deviceUnderflows = stream.counters().deviceUnderflows.load();
    report->callbackLoad = player.callbackLoad() > 0 ? player.callbackLoad() : stream.callbackLoad();
  }

  std::shared_ptr<LiveInput> input;  // full duplex
  int blockFrames;
  int64_t leadIn;
  AudioSystem system;
  AudioRing ring;
  AudioRing inputRing;
  AudioStream stream;
  LivePlayer player;
  LiveSessionReport* report;
  int64_t limit = 0;  // frames the render may have waiting in the ring
};

}  // namespace

std::unique_ptr<LiveOutput> openLiveOutput(const LiveOptions& options, const EngineSettings& settings,
                                           LiveSessionReport* report) {
  return std::make_unique<DeviceOutput>(options, settings, report);
}

void printLiveSessionReport(const LiveSessionReport& report, int sampleRate, int blockFrames) {
  if (!report.opened) return;
  std::printf(
      "vemora: played on \"%s\" (%s), buffer %d frames, device latency %.1f ms; a record's note left the engine "
      "at most %.1f ms after the record arrived (%lld records; the bound: %.1f ms, a block of %d frames and the "
      "device's buffer); %lld underruns; audio thread %.1f%% of the device's time\n",
      printable(report.device.name).c_str(), report.device.hostApi.c_str(), report.bufferFrames,
      report.latencySeconds * 1000.0, 1000.0 * double(report.worstDelayFrames) / sampleRate,
      static_cast<long long>(report.records), 1000.0 * report.ringFrames / sampleRate, blockFrames,
      static_cast<long long>(report.underruns), report.callbackLoad * 100.0);
  if (report.heardInput)
    std::printf("vemora: input from \"%s\" (%s), %d channel%s, lead-in %.1f ms; %lld input frames lost (overruns)\n",
                printable(report.inputDevice.name).c_str(), report.inputDevice.hostApi.c_str(), report.inputChannels,
                report.inputChannels == 1 ? "" : "s", 1000.0 * double(report.leadInFrames) / sampleRate,
                static_cast<long long>(report.inputFramesLost));
  if (report.deviceUnderflows > 0)
    std::printf("vemora: device underflows: %lld (the audio library's own, between the callback and the device)\n",
                static_cast<long long>(report.deviceUnderflows));
  std::fflush(stdout);
}

void printPlayReport(const PlayReport& report, const std::string& scoreName) {
  const double seconds = report.sampleRate > 0 ? double(report.framesPlayed) / report.sampleRate : 0.0;
  if (!report.outputPath.empty())
    std::printf("wrote %s\n", printable(report.outputPath).c_str());
  else
    std::printf("played %s\n", printable(scoreName).c_str());
  std::printf("  audio:   %.3f s, %d channel%s, %d Hz\n", seconds, report.channels, report.channels == 1 ? "" : "s",
              report.sampleRate);
  std::printf("  peak:   ");
  for (size_t c = 0; c < report.peaks.size(); ++c)
    std::printf("%s ch%zu %s dBFS", c ? "," : "", c, dbfs(report.peaks[c]).c_str());
  std::printf("\n");
  if (report.integerFormat) std::printf("  clipped: %lld samples\n", static_cast<long long>(report.clippedSamples));
  std::printf("  notes:   %d played, %d refused\n", report.notesPlayed, report.notesRefused);
  std::printf("  device:  \"%s\" (%s), buffer %d frames, latency %.1f ms\n", printable(report.device.name).c_str(),
              report.device.hostApi.c_str(), report.bufferFrames, report.latencySeconds * 1000.0);
  std::printf("  underruns: %lld\n", static_cast<long long>(report.underruns));
  if (report.heardInput) {
    const bool asOutput = report.inputChannels == report.channels;
    std::printf("  input:   \"%s\" (%s), %d channel%s (%s), latency %.1f ms; lead-in %.1f ms\n",
                printable(report.inputDevice.name).c_str(), report.inputDevice.hostApi.c_str(), report.inputChannels,
                report.inputChannels == 1 ? "" : "s", asOutput ? "as the output" : "all the device has",
                report.inputLatencySeconds * 1000.0, 1000.0 * double(report.leadInFrames) / report.sampleRate);
    std::printf("  overruns: %lld input frames lost (the render fell behind the input)\n",
                static_cast<long long>(report.inputFramesLost));
  }
  if (report.deviceUnderflows > 0)
    std::printf("  device underflows: %lld (the audio library's own, between the callback and the device)\n",
                static_cast<long long>(report.deviceUnderflows));
  std::printf("  audio thread: %.1f%% of the device's time\n", report.callbackLoad * 100.0);
  if (std::fflush(stdout) != 0 || std::ferror(stdout))
    std::fprintf(stderr, "vemora: the report could not be written to standard output\n");
}

}  // namespace vemora
