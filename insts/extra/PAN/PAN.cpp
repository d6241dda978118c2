#include "PAN.h"

#include <cmath>
#include <new>

#include "pfield_int.h"
#include "wavekit.h"

namespace {

// Bits 3, 5 and 6: amplitude, pan law and pan may change during the note.
constexpr unsigned kDynamicFields = (1u << 3) | (1u << 5) | (1u << 6);

// The channel pfield truncated toward zero. Values no int can hold (and NaN)
// become -1, which the channel check refuses.
int channelOf(double value) { return truncOr(value, -1); }

}  // namespace

PAN::PAN() : ctrlCountdown(0), prevPan(-1.0f), inBuffer(nullptr), panCurve(nullptr) {}

PAN::~PAN() { delete[] inBuffer; }

int PAN::init(double p[], int n_args) {
  nargs = n_args;
  inChannel = nargs > 4 ? channelOf(p[4]) : 0;
  if (rtsetoutput(float(p[0]), float(p[2]), this) == -1) return -1;
  rtaddinplace(this);  // it writes through rtaddout alone
  if (rtsetinput(float(p[1]), this) == -1) return -1;
  if (outChanCount != 2) return die("PAN", "Output must be stereo.");
  // A negative channel would read before the frame: refused like one too high.
  if (inChannel >= inChanCount || inChannel < 0)
    return die("PAN", "You asked for channel %d of a %d-channel file.", inChannel, inChanCount);
  ampCurve = floc(1);
  if (ampCurve) tableset(SR, float(p[2]), fsize(1), ampTabs);
  if (nargs < 7) {
    panCurve = floc(2);
    if (!panCurve) return die("PAN", "Either use the pan pfield (p6) or make an old-style gen function in slot 2.");
    tableset(SR, float(p[2]), fsize(2), panTabs);
  }
  ctrlPeriod = int(SR / float(resetval));
  return noteFrames;
}

int PAN::configure() {
  inBuffer = new (std::nothrow) float[size_t(inChanCount) * size_t(RTBUFSAMPS)];
  return inBuffer ? 0 : -1;
}

void PAN::doupdate() {
  double p[7] = {};
  update(p, 7, kDynamicFields);
  amp = float(p[3]);
  if (ampCurve) amp *= float(tablei(frameCursor, ampCurve, ampTabs));
  const bool constantPower = nargs <= 5 || p[5] == 0.0;
  float pan = nargs >= 7 ? float(p[6]) : float(tablei(frameCursor, panCurve, panTabs));
  if (pan < 0.0f)
    pan = 0.0f;
  else if (pan > 1.0f)
    pan = 1.0f;
  // The square roots are taken only when the pan moves; a change of law
  // alone waits for the next change of pan.
  if (pan != prevPan) {
    prevPan = pan;
    if (constantPower) {
      leftGain = std::sqrt(pan);
      rightGain = float(std::sqrt(1.0 - double(pan)));
    } else {
      leftGain = pan;
      rightGain = 1.0f - pan;
    }
  }
}

int PAN::run() {
  const int samples = inChanCount * chunkFrames;
  rtgetin(inBuffer, this, samples);
  for (int i = 0; i < samples; i += inChanCount) {
    if (--ctrlCountdown <= 0) {
      doupdate();
      ctrlCountdown = ctrlPeriod;
    }
    const float x = inBuffer[i + inChannel] * amp;
    const float frame[2] = {leftGain * x, x * rightGain};
    rtaddout(frame);
    ++frameCursor;
  }
  return chunkFrames;
}

VEMORA_EXPORT Instrument* makePAN() {
  PAN* inst = new PAN();
  inst->set_bus_config("PAN");
  return inst;
}

extern "C" VEMORA_EXPORT void rtprofile() {
  static rt_item this_rt = {nullptr, makePAN, "PAN"};
  if (addrtInst(&this_rt) == -1) merror("PAN");
}

VEMORA_PLUGIN_ABOUT("instrument", "Scales one channel of the input and places it between two outputs");
