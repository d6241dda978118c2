#include "LegacyNote.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "PluginCalls.h"

namespace vemora {
namespace {

constexpr int kInput = 0;
constexpr int kOutput = 1;
// A legacy function may read a few pfields past the ones given; they read 0.
constexpr size_t kMinPFieldSlots = 64;
constexpr int kSampleCacheFrames = 4096;
// Output buffers of legacy notes are bounded so that a runaway note (a grain
// of hours, say) cannot take the machine's memory: 2^28 samples, 1 GiB,
// some 50 minutes of stereo at 44100 Hz.
constexpr int64_t kMaxLegacySamples = int64_t(1) << 28;

}  // namespace

void LegacyNoteState::refuse(const std::string& text) {
  placementRefused = true;
  context->log.report(MessageKind::Refusal, name, text);
}

int LegacyNoteState::place(float start, float dur, int fno) {
  const double sr = Instrument::SR;
  if (!std::isfinite(start) || !std::isfinite(dur) || start < 0.0f || dur < 0.0f) {
    refuse("setnote: start and duration must be 0 or more seconds");
    return -1;
  }
  const double startFrames = std::floor(double(start) * sr + 0.5);
  const double durFrames = std::floor(double(dur) * sr + 0.5);
  if (startFrames > std::numeric_limits<int>::max() || durFrames > std::numeric_limits<int>::max()) {
    refuse("setnote: the note is longer than the engine can render");
    return -1;
  }
  if (fno == kInput) {
    if (!input) {
      refuse("setnote: this note reads input, but the score has not named one (call rtinput first)");
      return -1;
    }
    // A legacy note is made whole as the score calls it, before the
    // device has given any of its input.
    if (input->arrivesLive()) {
      refuse("setnote: a legacy note cannot read the input device (it is made before the device plays)");
      return -1;
    }
    inputStartFrame = int64_t(startFrames);
    inputSample = int64_t(startFrames) * input->channels();
    cacheFrames = 0;
    return int(durFrames);
  }
  if (fno == kOutput) {
    if (durFrames * channels > double(kMaxLegacySamples)) {
      refuse("setnote: the note is longer than the engine can render");
      return -1;
    }
    outputPlaced = true;
    outputStartFrame = int64_t(startFrames) + origin;
    outputSample = 0;
    placedFrames = int64_t(durFrames);
    buffer.assign(size_t(durFrames) * size_t(channels), 0.0f);
    return int(durFrames);
  }
  refuse("setnote: there is no file number " + std::to_string(fno));
  return -1;
}

int LegacyNoteState::addSamples(const float* samples, int n) {
  if (!outputPlaced || !samples || n <= 0) return 0;
  const int64_t first = outputSample;
  outputSample += n;
  const int64_t begin = std::max<int64_t>(first, 0);  // nothing lands before the note's start
  const int64_t end = first + n;
  if (end <= begin) return n;
  if (end - 1 >= int64_t(buffer.size())) {
    if (end - 1 >= kMaxLegacySamples) {
      // Writing on would only lose the rest of the note, frame by frame.
      refuse("the note writes past " + std::to_string(kMaxLegacySamples / channels) +
             " frames, more than the engine holds for one note; it was dropped");
      throw LegacyNoteAbort{};
    }
    const size_t wanted = std::max(size_t(end), buffer.size() * 2);
    buffer.resize(std::min(wanted, size_t(kMaxLegacySamples)), 0.0f);
  }
  float* dst = buffer.data();
  for (int64_t s = begin; s < end; ++s) dst[s] += samples[s - first];
  highestSample = std::max(highestSample, end - 1);
  return n;
}

int LegacyNoteState::sampleInput(double pos, float* frame) {
  if (!input || !frame || !std::isfinite(pos)) return 0;
  const int inputChannels = input->channels();
  const double absolute = double(inputStartFrame) + pos;
  if (absolute < 0.0 || absolute > double(input->frames() - 1)) return 0;
  const int64_t index = int64_t(absolute);
  const float fraction = float(absolute - double(index));
  if (index < cacheStart || index + 1 >= cacheStart + cacheFrames) {
    cacheStart = index;
    cacheFrames = kSampleCacheFrames;
    cache.resize(size_t(kSampleCacheFrames) * size_t(inputChannels));
    input->read(cacheStart, cacheFrames, cache.data());
  }
  const float* a = &cache[size_t(index - cacheStart) * size_t(inputChannels)];
  const float* b = a + inputChannels;
  for (int c = 0; c < inputChannels; ++c) frame[c] = a[c] + (b[c] - a[c]) * fraction;
  return 1;
}

int LegacyNoteState::readInput(float* buf, int n) {
  if (!input || !buf || n <= 0) return 0;
  // Reads whole frames covering the wanted samples, so a read may start and
  // end inside a frame.
  const int inputChannels = input->channels();
  const int64_t firstFrame =
      inputSample >= 0 ? inputSample / inputChannels : -((-inputSample + inputChannels - 1) / inputChannels);
  const int offset = int(inputSample - firstFrame * inputChannels);
  const int frames = (offset + n + inputChannels - 1) / inputChannels;
  readScratch.resize(size_t(frames) * size_t(inputChannels));
  input->read(firstFrame, frames, readScratch.data());
  std::memcpy(buf, readScratch.data() + offset, sizeof(float) * size_t(n));
  inputSample += n;
  return n;
}

int LegacyNoteState::moveInput(int frames) {
  if (!input) return -1;
  inputSample += int64_t(frames) * input->channels();
  return 0;
}

int LegacyNoteState::moveOutput(int frames) {
  if (!outputPlaced) return -1;
  outputSample += int64_t(frames) * channels;
  return 0;
}

LegacyCall callLegacyFunction(const NoteContext& context, const std::string& name, LegacyFunction fn,
                              const std::vector<double>& args, int64_t origin) {
  LegacyNoteState note;
  note.context = &context;
  note.name = name;
  note.origin = origin;
  note.input = context.input;
  note.outChannels = context.outChannelsOf(name);
  note.channels = int(note.outChannels.size());
  sfdesc[kInput] = note.input ? note.input->channels() : 0;
  sfdesc[kOutput] = note.channels;

  const size_t slots = std::max(kMinPFieldSlots, args.size());
  std::vector<float> p(slots, 0.0f);
  std::vector<double> pp(slots, 0.0);
  for (size_t i = 0; i < args.size(); ++i) {
    pp[i] = args[i];
    p[i] = float(args[i]);
  }

  LegacyCall call;
  try {
    const PluginCallScope scope(&note);
    call.value = fn(p.data(), int(args.size()), pp.data());
  } catch (const LegacyNoteAbort&) {
    call.refused = true;
  } catch (const std::bad_alloc&) {
    // The note's output buffer (or the function's own arrays) could not be
    // had: the note is dropped, the score goes on.
    context.log.report(MessageKind::Refusal, name, "not enough memory for this note; it was dropped");
    call.refused = true;
    note.placementRefused = true;
  }
  call.refused = call.refused || note.placementRefused;
  call.placementRefused = note.placementRefused;
  call.died = note.died;
  call.dieText = std::move(note.dieText);

  call.placedOutput = note.outputPlaced;
  if (note.outputPlaced && !call.refused) {
    const int64_t writtenFrames = (note.highestSample + note.channels) / note.channels;
    const int64_t frames = std::max(note.placedFrames, writtenFrames);
    note.buffer.resize(size_t(frames) * size_t(note.channels), 0.0f);
    call.note.startFrame = note.outputStartFrame;
    call.note.channels = note.channels;
    call.note.outChannels = note.outChannels;
    call.note.frames = std::move(note.buffer);
  }
  return call;
}

}  // namespace vemora
