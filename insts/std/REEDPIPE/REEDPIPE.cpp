#include "REEDPIPE.h"

#include "cfuncs.h"
#include "pfield_int.h"
#include "wavekit.h"

namespace {

// Reflection loss, also the total of the two line weights.
constexpr double kReflection = 0.9;
// Reed curve y = 0.3 x^2 - 0.8 x^3 and its linear term -0.5 x.
constexpr double kReedSquare = 0.3;
constexpr double kReedCube = -0.8;
constexpr double kReedLinear = -0.5;
// One-pole low-pass: weight of the new reed output and of the last output.
constexpr double kFilterNew = 0.7;
constexpr double kFilterOld = 0.3;

// A delay pfield truncated toward zero; -1 for NaN or a negative delay.
// Delays beyond any int read silence either way, so they are capped.
int delayFromPField(double p) { return truncAtLeast(p, -1); }

inline float clipUnit(float x) {
  float c = x < 1.0f ? x : 1.0f;
  if (c < -1.0f) c = -1.0f;
  return c;
}

}  // namespace

REEDPIPE::REEDPIPE() : ctrlCountdown(0) {}

REEDPIPE::~REEDPIPE() = default;

int REEDPIPE::init(double p[], int /*n_args*/) {
  if (rtsetoutput(float(p[0]), float(p[1]), this) == -1) return -1;
  // A negative delay would read ahead of the newest sample; refused before
  // anything else is set up.
  const int d1 = delayFromPField(p[3]);
  const int d2 = delayFromPField(p[4]);
  if (d1 < 0 || d2 < 0) return die("REEDPIPE", "Delays must be 0 samples or more (p3 = %g, p4 = %g).", p[3], p[4]);

  noiseCurve = floc(1);
  if (noiseCurve)
    tableset(SR, float(p[1]), fsize(1), noiseTabs);
  else
    vemora_advise("REEDPIPE", "Setting noise amp curve to all 1's.");
  ampCurve = floc(2);
  if (ampCurve)
    tableset(SR, float(p[1]), fsize(2), ampTabs);
  else
    vemora_advise("REEDPIPE", "Setting output amp curve to all 1's.");

  mdelset(SR, line1, line1Rec, kLineLength);
  mdelset(SR, line2, line2Rec, kLineLength);
  delay1 = d1;
  delay2 = d2;
  prevOut = 0.0f;
  amp = float(p[5]);
  noiseAmp = float(p[2]);
  reflMix = float(p[6]);
  pctLeft = float(p[7]);
  ctrlPeriod = int(SR / float(resetval));
  curAmpCurve = 1.0f;
  curNoiseCurve = 1.0f;
  return noteFrames;
}

int REEDPIPE::run() {
  // Frames go straight into the chunk, which the engine zeroes before each
  // run: channel 0 always, channel 1 too when the output is exactly stereo;
  // channels past the second stay silent.
  float* frame = outBuffer;
  const int stride = outChanCount;
  const double rightShare = 1.0 - pctLeft;
  for (int i = 0; i < chunkFrames; ++i) {
    if (--ctrlCountdown <= 0) {
      if (noiseCurve) curNoiseCurve = float(table(frameCursor, noiseCurve, noiseTabs));
      if (ampCurve) curAmpCurve = float(tablei(frameCursor, ampCurve, ampTabs));
      ctrlCountdown = ctrlPeriod;
    }
    const float noise = float(rrand()) * noiseAmp;

    const float c1 = clipUnit(mdelget(line1, delay1, line1Rec));
    const float c2 = clipUnit(mdelget(line2, delay2, line2Rec));
    const double refl = kReflection * (c2 * reflMix + (kReflection - reflMix) * c1);

    // The breath is the curve value raised by (1 + noise).
    const float breath = noise * curNoiseCurve + curNoiseCurve;
    const float x = float(breath + refl);
    const float x2 = x * x;
    const float x3 = x * x2;
    const float y = float(kReedSquare * x2 + kReedCube * x3);
    const float z = float(curNoiseCurve + kReedLinear * x) + y;
    const float out = float(kFilterNew * z + kFilterOld * prevOut);
    prevOut = out;

    delput(out, line2, line2Rec);
    delput(out, line1, line1Rec);

    const float s = out * amp * curAmpCurve;
    if (stride == 2) {
      frame[0] = s * pctLeft;
      frame[1] = float(s * rightShare);
    } else if (stride > 0) {
      frame[0] = s;
    }
    frame += stride;
    ++frameCursor;
  }
  return chunkFrames;
}

VEMORA_EXPORT Instrument* makeREEDPIPE() {
  REEDPIPE* inst = new REEDPIPE();
  inst->set_bus_config("REEDPIPE");
  return inst;
}

extern "C" VEMORA_EXPORT void rtprofile() {
  static rt_item this_rt = {nullptr, makeREEDPIPE, "REEDPIPE"};
  if (addrtInst(&this_rt) == -1) merror("REEDPIPE");
}

VEMORA_PLUGIN_ABOUT("instrument", "A blown reed on a pipe, from a physical model; no input");
