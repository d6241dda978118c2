#include "LegacyNote.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "EngineState.h"

using vemora::gContext;
using vemora::LegacyNoteState;
using vemora::MessageKind;

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

LegacyNoteState* current() { return gContext.legacy; }

void complain(const std::string& text) {
  if (!gContext.engine || !gContext.legacy) return;
  gContext.legacy->placementRefused = true;
  gContext.engine->report(MessageKind::Refusal, gContext.legacy->name, text);
}

int placeNote(float start, float dur, int fno) {
  LegacyNoteState* note = current();
  if (!note) return -1;
  const double sr = Instrument::SR;
  if (!std::isfinite(start) || !std::isfinite(dur) || start < 0.0f || dur < 0.0f) {
    complain("setnote: start and duration must be 0 or more seconds");
    return -1;
  }
  const double startFrames = std::floor(double(start) * sr + 0.5);
  const double durFrames = std::floor(double(dur) * sr + 0.5);
  if (startFrames > std::numeric_limits<int>::max() || durFrames > std::numeric_limits<int>::max()) {
    complain("setnote: the note is longer than the engine can render");
    return -1;
  }
  if (fno == kInput) {
    if (!note->input) {
      complain("setnote: this note reads input, but the score has not named one (call rtinput first)");
      return -1;
    }
    note->inputStartFrame = int64_t(startFrames);
    note->inputSample = int64_t(startFrames) * note->input->channels();
    note->cacheFrames = 0;
    return int(durFrames);
  }
  if (fno == kOutput) {
    if (durFrames * note->channels > double(kMaxLegacySamples)) {
      complain("setnote: the note is longer than the engine can render");
      return -1;
    }
    note->outputPlaced = true;
    note->outputStartFrame = int64_t(startFrames) + note->origin;
    note->outputSample = 0;
    note->placedFrames = int64_t(durFrames);
    note->buffer.assign(size_t(durFrames) * size_t(note->channels), 0.0f);
    return int(durFrames);
  }
  complain("setnote: there is no file number " + std::to_string(fno));
  return -1;
}

// Grows the output buffer so that sample index `last` fits.
bool reserveOutput(LegacyNoteState* note, int64_t last) {
  if (last < int64_t(note->buffer.size())) return true;
  if (last >= kMaxLegacySamples) return false;
  size_t wanted = std::max(size_t(last) + 1, note->buffer.size() * 2);
  wanted = std::min(wanted, size_t(kMaxLegacySamples));
  note->buffer.resize(wanted, 0.0f);
  return true;
}

int addSamples(const float* samples, int n) {
  LegacyNoteState* note = current();
  if (!note || !note->outputPlaced || !samples || n <= 0) return 0;
  const int64_t first = note->outputSample;
  note->outputSample += n;
  const int64_t begin = std::max<int64_t>(first, 0);  // nothing lands before the note's start
  const int64_t end = first + n;
  if (end <= begin) return n;
  if (!reserveOutput(note, end - 1)) {
    // Writing on would only lose the rest of the note, frame by frame.
    complain("the note writes past " + std::to_string(kMaxLegacySamples / note->channels) +
             " frames, more than the engine holds for one note; it was dropped");
    throw vemora::LegacyNoteAbort{};
  }
  float* dst = note->buffer.data();
  for (int64_t s = begin; s < end; ++s) dst[s] += samples[s - first];
  note->highestSample = std::max(note->highestSample, end - 1);
  return n;
}

int addFrameToOutput(float* frame, int fno) {
  if (fno != kOutput || !current()) return -1;
  return addSamples(frame, current()->channels);
}

int addFrameToNothing(float*, int) { return -1; }

// Linear interpolation between the two input frames around pos.
int sampleInput(double pos, float* frame, int fno) {
  LegacyNoteState* note = current();
  if (!note || fno != kInput || !note->input || !frame || !std::isfinite(pos)) return 0;
  const int channels = note->input->channels();
  const double absolute = double(note->inputStartFrame) + pos;
  if (absolute < 0.0 || absolute > double(note->input->frames() - 1)) return 0;
  const int64_t index = int64_t(absolute);
  const float fraction = float(absolute - double(index));
  if (index < note->cacheStart || index + 1 >= note->cacheStart + note->cacheFrames) {
    note->cacheStart = index;
    note->cacheFrames = kSampleCacheFrames;
    note->cache.resize(size_t(kSampleCacheFrames) * size_t(channels));
    note->input->read(note->cacheStart, note->cacheFrames, note->cache.data());
  }
  const float* a = &note->cache[size_t(index - note->cacheStart) * size_t(channels)];
  const float* b = a + channels;
  for (int c = 0; c < channels; ++c) frame[c] = a[c] + (b[c] - a[c]) * fraction;
  return 1;
}

}  // namespace

int (*getsample)(double pos, float* frame, int fno) = sampleInput;
int (*addoutpointer[kLegacyFileCount])(float* frame, int fno) = {addFrameToNothing, addFrameToOutput};
int sfdesc[kLegacyFileCount] = {0, 0};

int setnote(float start, float dur, int fno) { return placeNote(start, dur, fno); }

// Input read frame by frame through getsample is placed the same way.
int getsetnote(float start, float dur, int fno) { return placeNote(start, dur, fno); }

int endnote(int fno) { return fno == kOutput && current() && current()->outputPlaced ? 0 : -1; }

float SR() { return Instrument::SR; }

int bgetin(float* buf, int fno, int n) {
  LegacyNoteState* note = current();
  if (!note || fno != kInput || !note->input || !buf || n <= 0) return 0;
  // Reads whole frames covering the wanted samples, so a read may start and
  // end inside a frame.
  const int channels = note->input->channels();
  const int64_t firstFrame =
      note->inputSample >= 0 ? note->inputSample / channels : -((-note->inputSample + channels - 1) / channels);
  const int offset = int(note->inputSample - firstFrame * channels);
  const int frames = (offset + n + channels - 1) / channels;
  note->readScratch.resize(size_t(frames) * size_t(channels));
  note->input->read(firstFrame, frames, note->readScratch.data());
  std::memcpy(buf, note->readScratch.data() + offset, sizeof(float) * size_t(n));
  note->inputSample += n;
  return n;
}

int baddout(float* buf, int fno, int n) { return fno == kOutput ? addSamples(buf, n) : 0; }

int inrepos(int frames, int fno) {
  LegacyNoteState* note = current();
  if (!note || fno != kInput || !note->input) return -1;
  note->inputSample += int64_t(frames) * note->input->channels();
  return 0;
}

int outrepos(int frames, int fno) {
  LegacyNoteState* note = current();
  if (!note || fno != kOutput || !note->outputPlaced) return -1;
  note->outputSample += int64_t(frames) * note->channels;
  return 0;
}

namespace vemora {

LegacyCall callLegacyFunction(const std::string& name, LegacyFunction fn, const std::vector<double>& args,
                              int64_t origin) {
  Engine::Impl& engine = *gContext.engine;
  LegacyNoteState note;
  note.name = name;
  note.origin = origin;
  note.input = engine.input;
  auto config = engine.busConfigs.find(name);
  if (config != engine.busConfigs.end()) note.outChannels = config->second.outChannels;
  if (note.outChannels.empty())
    for (int c = 0; c < engine.settings.channels; ++c) note.outChannels.push_back(c);
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
  gContext.legacy = &note;
  try {
    call.value = fn(p.data(), int(args.size()), pp.data());
  } catch (const LegacyNoteAbort&) {
    call.refused = true;
  } catch (const std::bad_alloc&) {
    // The note's output buffer (or the function's own arrays) could not be
    // had: the note is dropped, the score goes on.
    engine.report(MessageKind::Refusal, name, "not enough memory for this note; it was dropped");
    call.refused = true;
    note.placementRefused = true;
  }
  gContext.legacy = nullptr;
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
