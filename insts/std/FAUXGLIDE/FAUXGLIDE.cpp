#include "FAUXGLIDE.h"

#include <new>

#include "wavekit.h"

namespace {

// Frames of input over which each block fades in and out.
constexpr int kFadeFrames = 100;

// Gain for a read head that has just taken frame index - 1 of a block of
// blockFrames: 0 at either edge, a ramp of 0.01 per frame over the first and
// last 100 frames, 1 between. The closing ramp wins in blocks under 200.
float blockFade(int index, int blockFrames) {
  if (index == blockFrames) return 0.0f;
  if (index >= blockFrames - kFadeFrames) return float(blockFrames - index) * 0.01f;
  if (index >= kFadeFrames) return 1.0f;
  if (index >= 1) return float(index) * 0.01f;
  return 0.0f;
}

}  // namespace

FAUXGLIDE::FAUXGLIDE() : ctrlCountdown(0), ampCurve(nullptr), pitchCurve(nullptr), inBuffer(nullptr) {}

FAUXGLIDE::~FAUXGLIDE() { delete[] inBuffer; }

int FAUXGLIDE::init(double p[], int n_args) {
  if (n_args < 5) return die("FAUXGLIDE", "Wrong number of args.");
  const GlidePFields note(p, n_args);
  amp = note.amp;
  inChannel = note.inChannel;
  pctLeft = note.pctLeft;
  const int pitchSlot = note.pitchSlot;
  const float dur = note.dur;

  if (rtsetoutput(note.start, dur, this) == -1) return -1;
  if (rtsetinput(note.inskip, this) == -1) return -1;
  // A negative channel would read before each frame of inBuffer.
  if (inChannel >= inChanCount || inChannel < 0)
    return die("FAUXGLIDE", "You asked for channel %d of a %d-channel file.", inChannel, inChanCount);

  pitchCurve = floc(pitchSlot);
  if (!pitchCurve) return die("FAUXGLIDE", "Unable to load pitch curve!");
  tableset(SR, dur, fsize(pitchSlot), pitchTabs);

  reader.inFrame = RTBUFSAMPS;  // used up: the first sample taken fetches a block

  ampCurve = floc(1);
  if (ampCurve) {
    tableset(SR, dur, fsize(1), ampTabs);
  } else {
    vemora_advise("FAUXGLIDE", "Setting phrase curve to all 1's.");
    aamp = amp;
  }

  ctrlPeriod = int(SR / float(resetval));
  return noteFrames;
}

int FAUXGLIDE::configure() {
  inBuffer = new (std::nothrow) float[size_t(inChanCount) * size_t(RTBUFSAMPS)];
  return inBuffer ? 0 : -1;
}

int FAUXGLIDE::run() {
  const int frames = chunkFrames;
  if (frames <= 0) return chunkFrames;

  const float ref = VarispeedReader::reference();
  // The pitch countdown is local: each call reads the curve on its first
  // frame. The amplitude countdown is a member and runs over the whole note.
  int pitchBranch = 0;
  const int blockFrames = RTBUFSAMPS;
  const int blockSamples = blockFrames * inChanCount;
  float* out = outBuffer;

  for (int i = 0; i < frames; ++i) {
    if (--ctrlCountdown <= 0) {
      if (ampCurve) aamp = float(table(frameCursor, ampCurve, ampTabs)) * amp;
      ctrlCountdown = ctrlPeriod;
    }

    reader.take(inBuffer, blockFrames, inChanCount, inChannel, [&] { rtgetin(inBuffer, this, blockSamples); });

    const float fade = blockFade(reader.inFrame, blockFrames);

    const float value = reader.value();
    const float s = (aamp * fade) * value;

    if (outChanCount == 2) {
      out[1] = float(double(s) * (1.0 - double(pctLeft)));
      out[0] = s * pctLeft;
    } else {
      out[0] = s;
    }
    ++frameCursor;
    out += outChanCount;

    // frameCursor already names the next frame.
    if (--pitchBranch <= 0) {
      reader.setOctaves(table(frameCursor, pitchCurve, pitchTabs), ref);
      pitchBranch = 20;
    }

    reader.advance();
  }
  return chunkFrames;
}

VEMORA_EXPORT Instrument* makeFAUXGLIDE() {
  FAUXGLIDE* inst = new FAUXGLIDE();
  inst->set_bus_config("FAUXGLIDE");
  return inst;
}

extern "C" VEMORA_EXPORT void rtprofile() {
  static rt_item this_rt = {nullptr, makeFAUXGLIDE, "FAUXGLIDE"};
  if (addrtInst(&this_rt) == -1) merror("FAUXGLIDE");
}
