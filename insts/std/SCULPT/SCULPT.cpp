#include "SCULPT.h"

#include <algorithm>
#include <cstring>

#include "pfield_int.h"
#include "wavekit.h"

namespace {

// Levels in table 4 are raised by this many dB before conversion.
constexpr double kLevelOffsetDb = 60.0;

// trunc(SR x seconds) in double, kept inside the int range: a point longer
// than any note is capped, and a negative length counts as 0, which starts a
// new point on every frame just as a negative countdown would.
int framesPerPoint(float sr, double seconds) { return truncAtLeast(double(sr) * seconds, 0); }

// Points loaded over a note: one per started point (a period of 0 or less
// starts a point on every frame).
long long pointsPlayed(int noteFrames, int pointFrames) {
  if (noteFrames <= 0) return 0;
  if (pointFrames <= 0) return noteFrames;
  return (static_cast<long long>(noteFrames) + pointFrames - 1) / pointFrames;
}

// out holds n stereo frames; adds piece[i] * left to channel 0 and
// float(piece[i] * right) to channel 1 of frame i, four frames a step. Each
// sample is the same single multiply and add as one frame at a time.
void addPanned(float* __restrict out, const float* __restrict piece, int n, float left, double right) {
  using Float4 = float __attribute__((vector_size(16)));
  using Double4 = double __attribute__((vector_size(32)));
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    Float4 sample, low, high;
    std::memcpy(&sample, piece + i, sizeof sample);
    std::memcpy(&low, out + 2 * i, sizeof low);
    std::memcpy(&high, out + 2 * i + 4, sizeof high);
    const Float4 l = sample * left;
    const Float4 r = __builtin_convertvector(__builtin_convertvector(sample, Double4) * right, Float4);
    low += __builtin_shufflevector(l, r, 0, 4, 1, 5);
    high += __builtin_shufflevector(l, r, 2, 6, 3, 7);
    std::memcpy(out + 2 * i, &low, sizeof low);
    std::memcpy(out + 2 * i + 4, &high, sizeof high);
  }
  for (; i < n; ++i) {
    out[2 * i] += piece[i] * left;
    out[2 * i + 1] += float(piece[i] * right);
  }
}

}  // namespace

SCULPT::SCULPT() : ctrlCountdown(0) {}

SCULPT::~SCULPT() = default;

int SCULPT::init(double p[], int /*n_args*/) {
  const float noteSeconds = float(p[1] * p[3]);
  if (rtsetoutput(float(p[0]), noteSeconds, this) == -1) return -1;
  rtaddinplace(this);  // writeSpan only adds, once per sample
  pointFrames = framesPerPoint(SR, p[1]);

  waveform = floc(2);
  if (!waveform) return die("SCULPT", "You need to store a waveform in function 2.");
  waveLen = fsize(2);

  ampCurve = floc(1);
  if (ampCurve)
    tableset(SR, noteSeconds, fsize(1), ampTabs);
  else
    vemora_advise("SCULPT", "Setting phrase curve to all 1's.");

  // An empty point table has nothing to hold: it counts as missing.
  freqPoints = floc(3);
  const int freqCount = fsize(3);
  if (!freqPoints || freqCount <= 0) return die("SCULPT", "You haven't made the table of frequency points (table 3).");
  ampPoints = floc(4);
  const int ampCount = fsize(4);
  if (!ampPoints || ampCount <= 0) return die("SCULPT", "You haven't made the table of amplitude points (table 4).");

  // A point past the end of table 3 or 4 holds the table's last entry.
  lastFreqPoint = freqCount - 1;
  lastAmpPoint = ampCount - 1;
  const long long points = pointsPlayed(noteFrames, pointFrames);
  if (points > freqCount && points > ampCount)
    vemora_advise("SCULPT",
                  "The note plays %lld points but tables 3 and 4 hold %d and %d; their last entries are held.", points,
                  freqCount, ampCount);
  else if (points > freqCount)
    vemora_advise("SCULPT", "The note plays %lld points but table 3 holds %d; its last entry is held.", points,
                  freqCount);
  else if (points > ampCount)
    vemora_advise("SCULPT", "The note plays %lld points but table 4 holds %d; its last entry is held.", points,
                  ampCount);

  amp = float(p[2]);
  phase = 0.0f;
  phaseIncr = 0.0f;
  pointIndex = 0;
  pctLeft = float(p[4]);
  return noteFrames;
}

void SCULPT::nextPoint() {
  const double freq = freqPoints[std::min(pointIndex, lastFreqPoint)];
  const double levelDb = ampPoints[std::min(pointIndex, lastAmpPoint)];
  phaseIncr = float(double(float(waveLen)) * freq / double(SR));
  const float level = ampCurve ? float(table(frameCursor, ampCurve, ampTabs)) * amp : amp;
  aamp = float(double(level) * ampdb(float(levelDb + kLevelOffsetDb)));
  ++pointIndex;
  ctrlCountdown = pointFrames;
}

int SCULPT::run() {
  // The chunk runs in spans between points: the level and the step hold for
  // a whole span, so each span is one tight oscillator loop. A countdown
  // that reaches 0 on a frame starts a point there; after it, that frame
  // and ctrlCountdown - 1 more play before the next one (a point of 0
  // frames or less starts on every frame).
  for (int i = 0; i < chunkFrames;) {
    if (--ctrlCountdown <= 0) nextPoint();
    const int span = std::min(chunkFrames - i, std::max(ctrlCountdown, 1));
    ctrlCountdown -= span - 1;
    writeSpan(outBuffer + i * outChanCount, span);
    i += span;
    frameCursor += span;
  }
  return chunkFrames;
}

// Frames are added straight into the output (in place, so each sample is
// added once): channel 0 always, channel 1 too when the output is exactly
// stereo; channels past the second get nothing.
void SCULPT::writeSpan(float* out, int frames) {
  const int stride = outChanCount;
  const float left = pctLeft;
  const double right = 1.0 - pctLeft;
  if (stride == 2) {
    // The oscillator a piece at a time into a buffer of its own, then the
    // piece added to both channels: apart from the oscillator's chain of
    // phase additions, the pan runs four frames a step.
    constexpr int kPiece = 256;
    float piece[kPiece];
    for (int done = 0; done < frames;) {
      const int n = std::min(frames - done, kPiece);
      oscilFrames(aamp, phaseIncr, waveform, waveLen, &phase, n, [&](int i, float sample) { piece[i] = sample; });
      addPanned(out + 2 * done, piece, n, left, right);
      done += n;
    }
  } else if (stride > 0) {
    oscilFrames(aamp, phaseIncr, waveform, waveLen, &phase, frames,
                [&](int i, float sample) { out[i * stride] += sample; });
  } else {
    oscilFrames(aamp, phaseIncr, waveform, waveLen, &phase, frames, [](int, float) {});
  }
}

VEMORA_EXPORT Instrument* makeSCULPT() {
  SCULPT* inst = new SCULPT();
  inst->set_bus_config("SCULPT");
  return inst;
}

extern "C" VEMORA_EXPORT void rtprofile() {
  static rt_item this_rt = {nullptr, makeSCULPT, "SCULPT"};
  if (addrtInst(&this_rt) == -1) merror("SCULPT");
}

VEMORA_PLUGIN_ABOUT("instrument", "One wavetable oscillator stepped through a sequence of points");
