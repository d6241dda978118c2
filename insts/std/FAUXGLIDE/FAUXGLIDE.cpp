#include "FAUXGLIDE.h"

#include <climits>
#include <new>

#include "wavekit.h"

namespace {

// Above 16 octaves up the read loop would take 65536 input samples for every
// output frame; an infinite curve value would never let it end. Such values,
// and values that are not numbers, play at 16 octaves up.
constexpr double kMaxOctaves = 16.0;

// Frames of input over which each block fades in and out.
constexpr int kFadeFrames = 100;

// Truncation toward zero that saturates instead of overflowing; a value that
// is not a number becomes INT_MIN, which no table or channel check accepts.
int truncToInt(double value) {
  if (!(value > double(INT_MIN) - 1.0)) return INT_MIN;
  if (value >= double(INT_MAX) + 1.0) return INT_MAX;
  return int(value);
}

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

FAUXGLIDE::FAUXGLIDE()
    : inCount(1),
      ctrlCountdown(0),
      getFlag(1),
      readPos(0.0),
      newestSamp(0.0f),
      middleSamp(0.0f),
      oldestSamp(0.0f),
      ampCurve(nullptr),
      pitchCurve(nullptr),
      inBuffer(nullptr) {}

FAUXGLIDE::~FAUXGLIDE() { delete[] inBuffer; }

int FAUXGLIDE::init(double p[], int n_args) {
  if (n_args < 5) return die("FAUXGLIDE", "Wrong number of args.");
  const float start = float(p[0]);
  const float inskip = float(p[1]);
  float dur = float(p[2]);
  amp = float(p[3]);
  const int pitchSlot = truncToInt(p[4]);
  inChannel = n_args > 5 ? truncToInt(p[5]) : 0;
  pctLeft = n_args > 6 ? float(p[6]) : 0.5f;
  // A negative duration is the end time in the input.
  if (dur < 0.0f) dur = -dur - inskip;

  if (rtsetoutput(start, dur, this) == -1) return -1;
  if (rtsetinput(inskip, this) == -1) return -1;
  // A negative channel would read before each frame of inBuffer.
  if (inChannel >= inChanCount || inChannel < 0)
    return die("FAUXGLIDE", "You asked for channel %d of a %d-channel file.", inChannel, inChanCount);

  pitchCurve = floc(pitchSlot);
  if (!pitchCurve) return die("FAUXGLIDE", "Unable to load pitch curve!");
  tableset(SR, dur, fsize(pitchSlot), pitchTabs);

  inFrame = RTBUFSAMPS;  // used up: the first sample taken fetches a block

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

  // The reference is held in single precision, so a curve value of 0 gives
  // a ratio a hair below 1 (0.99999994).
  const float ref = float(cpsoct(10.0));
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

    // Take input until the newest sample lies within half a sample of the
    // read position; a high ratio may take several blocks for one frame.
    if (getFlag) {
      do {
        if (inFrame >= blockFrames) {
          rtgetin(inBuffer, this, blockSamples);
          inFrame = 0;
        }
        oldestSamp = middleSamp;
        middleSamp = newestSamp;
        newestSamp = inBuffer[inFrame * inChanCount + inChannel];
        ++inFrame;
        ++inCount;
        if (readPos - double(inCount) < 0.5) getFlag = 0;
      } while (getFlag);
    }

    const float fade = blockFade(inFrame, blockFrames);

    // The quadratic through (0, oldest), (1, middle), (2, newest) at x.
    const float x = float(readPos - double(inCount) + 2.0);
    const float y0 = oldestSamp;
    const float y1 = middleSamp;
    const float y2 = newestSamp;
    const float value = y0 + x * (2.0f * y1 - 1.5f * y0 - 0.5f * y2) + x * x * (0.5f * y0 - y1 + 0.5f * y2);
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
      double octaves = table(frameCursor, pitchCurve, pitchTabs);
      if (!(octaves <= kMaxOctaves)) octaves = kMaxOctaves;
      increment = cpsoct(octaves + 10.0) / double(ref);
      pitchBranch = 20;
    }

    readPos += increment;
    if (readPos - double(inCount) >= -0.5) getFlag = 1;
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
