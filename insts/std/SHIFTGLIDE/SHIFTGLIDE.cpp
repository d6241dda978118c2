#include "SHIFTGLIDE.h"

#include <climits>
#include <new>

#include "wavekit.h"

namespace {

// Above 16 octaves up the read loop would take 65536 input samples for every
// output frame; an infinite curve value would never let it end. Such values,
// and values that are not numbers, play at 16 octaves up.
constexpr double kMaxOctaves = 16.0;

// Truncation toward zero that saturates instead of overflowing; a value that
// is not a number becomes INT_MIN, which no table or channel check accepts.
int truncToInt(double value) {
  if (!(value > double(INT_MIN) - 1.0)) return INT_MIN;
  if (value >= double(INT_MAX) + 1.0) return INT_MAX;
  return int(value);
}

}  // namespace

SHIFTGLIDE::SHIFTGLIDE()
    : inCount(1),
      getFlag(1),
      increment(0.0),
      readPos(0.0),
      newestSamp(0.0f),
      middleSamp(0.0f),
      oldestSamp(0.0f),
      ampCurve(nullptr),
      pitchCurve(nullptr),
      inBuffer(nullptr) {}

SHIFTGLIDE::~SHIFTGLIDE() { delete[] inBuffer; }

int SHIFTGLIDE::init(double p[], int n_args) {
  if (n_args < 5) {
    die("SHIFTGLIDE", "Wrong number of args.");
    return -1;
  }
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
    return die("SHIFTGLIDE", "You asked for channel %d of a %d-channel file.", inChannel, inChanCount);

  pitchCurve = floc(pitchSlot);
  if (!pitchCurve) {
    die("SHIFTGLIDE", "Unable to load pitch curve (table %d)!", pitchSlot);
    return -1;
  }
  tableset(SR, dur, fsize(pitchSlot), pitchTabs);

  inFrame = RTBUFSAMPS;  // used up: the first sample taken fetches a block

  ampCurve = floc(1);
  if (ampCurve)
    tableset(SR, dur, fsize(1), ampTabs);
  else
    vemora_advise("SHIFTGLIDE", "Setting phrase curve to all 1's.");

  ctrlPeriod = int(SR / float(resetval));
  return noteFrames;
}

int SHIFTGLIDE::configure() {
  inBuffer = new (std::nothrow) float[size_t(inChanCount) * size_t(RTBUFSAMPS)];
  return inBuffer ? 0 : -1;
}

int SHIFTGLIDE::run() {
  const int frames = chunkFrames;
  if (frames <= 0) return 0;

  // The reference is held in single precision, so a curve value of 0 gives
  // a ratio a hair below 1 (0.99999994).
  const float ref = float(cpsoct(10.0));
  float aamp = amp;
  // Both countdowns are local: each call reads both curves on its first frame.
  int ctrlCountdown = 0;
  int pitchBranch = 0;
  const int blockFrames = RTBUFSAMPS;
  const int blockSamples = blockFrames * inChanCount;
  float* out = outBuffer;

  for (int i = 0; i < frames; ++i) {
    if (--ctrlCountdown < 0) {
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

    // The quadratic through (0, oldest), (1, middle), (2, newest) at x.
    const float x = float(readPos - double(inCount) + 2.0);
    const float y0 = oldestSamp;
    const float y1 = middleSamp;
    const float y2 = newestSamp;
    float s = y0 + x * (2.0f * y1 - 1.5f * y0 - 0.5f * y2) + x * x * (0.5f * y0 - y1 + 0.5f * y2);
    s *= aamp;

    if (outChanCount == 2) {
      out[1] = float(double(s) * (1.0 - double(pctLeft)));
      out[0] = s * pctLeft;
    } else {
      out[0] = s;
    }
    ++frameCursor;
    out += outChanCount;

    // frameCursor already names the next frame.
    if (--pitchBranch < 0) {
      double octaves = table(frameCursor, pitchCurve, pitchTabs);
      if (!(octaves <= kMaxOctaves)) octaves = kMaxOctaves;
      increment = cpsoct(octaves + 10.0) / double(ref);
      pitchBranch = 20;
    }

    readPos += increment;
    if (readPos - double(inCount) >= -0.5) getFlag = 1;
  }
  return frames;
}

VEMORA_EXPORT Instrument* makeSHIFTGLIDE() {
  SHIFTGLIDE* inst = new SHIFTGLIDE();
  inst->set_bus_config("SHIFTGLIDE");
  return inst;
}

extern "C" VEMORA_EXPORT void rtprofile() {
  static rt_item this_rt = {nullptr, makeSHIFTGLIDE, "SHIFTGLIDE"};
  if (addrtInst(&this_rt) == -1) merror("SHIFTGLIDE");
}
