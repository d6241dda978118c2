#include "TETRAPOS.h"

#include <cfloat>
#include <cmath>
#include <new>

#include "QuadGains.h"
#include "pfield_int.h"

namespace {

// Bits 3, 4 and 5: amplitude, x and y may change during the note.
constexpr unsigned kDynamicFields = (1u << 3) | (1u << 4) | (1u << 5);

// The channel pfield truncated toward zero. Values no int can hold (and NaN)
// become -1, which the channel check refuses.
int channelOf(double value) { return truncOr(value, -1); }

double clampUnit(double v) { return v < -1.0 ? -1.0 : (v > 1.0 ? 1.0 : v); }

}  // namespace

TETRAPOS::TETRAPOS() : ctrlCountdown(0), prevX(DBL_MAX), prevY(DBL_MAX), inBuffer(nullptr) {
  for (int j = 0; j < 4; ++j) speakerAngles[j] = tetrapos::kSpeakerAngles[j];
}

TETRAPOS::~TETRAPOS() { delete[] inBuffer; }

int TETRAPOS::usage() { return die("TETRAPOS", "Usage: TETRAPOS(start, inskip, dur, amp, srcX, srcY [, inchan]"); }

int TETRAPOS::init(double p[], int n_args) {
  if (n_args != 6 && n_args != 7) return usage();
  inChannel = n_args > 6 ? channelOf(p[6]) : 0;
  if (rtsetoutput(float(p[0]), float(p[2]), this) == -1) return -1;
  rtaddinplace(this);  // it writes through rtaddout alone
  if (rtsetinput(float(p[1]), this) == -1) return -1;
  if (outChanCount != 4) return die("TETRAPOS", "Must have 4 output channels.");
  // A negative channel would read before the frame: refused like one too high.
  if (inChannel >= inChanCount || inChannel < 0)
    return die("TETRAPOS", "You asked for channel %d of %d-channel input.", inChannel, inChanCount);
  return noteFrames;
}

int TETRAPOS::configure() {
  inBuffer = new (std::nothrow) float[size_t(inChanCount) * size_t(RTBUFSAMPS)];
  return inBuffer ? 0 : -1;
}

void TETRAPOS::doupdate() {
  double p[6] = {};
  update(p, 6, kDynamicFields);
  amp = p[3];
  // The new values are compared unclamped with the clamped ones kept, so a
  // source held beyond the edge recomputes (to the same gains) each time.
  if (p[4] == prevX && p[5] == prevY) return;
  prevX = clampUnit(p[4]);
  prevY = clampUnit(p[5]);
  tetrapos::quadGains(prevX, prevY, speakerAngles, gains);
}

int TETRAPOS::run() {
  float frame[4];
  const int k = inChanCount;
  const int n = k * chunkFrames;
  rtgetin(inBuffer, this, n);
  for (int i = 0; i < n; i += k) {
    if (--ctrlCountdown <= 0) {
      doupdate();
      ctrlCountdown = ctrlSkip;
    }
    const float x = float(inBuffer[i + inChannel] * amp);
    for (int j = 0; j < 4; ++j) frame[j] = float(gains[j] * x);
    rtaddout(frame);
    ++frameCursor;
  }
  return chunkFrames;
}

VEMORA_EXPORT Instrument* makeTETRAPOS() {
  TETRAPOS* inst = new TETRAPOS();
  inst->set_bus_config("TETRAPOS");
  return inst;
}

extern "C" VEMORA_EXPORT void rtprofile() {
  static rt_item this_rt = {nullptr, makeTETRAPOS, "TETRAPOS"};
  if (addrtInst(&this_rt) == -1) merror("TETRAPOS");
}

VEMORA_PLUGIN_ABOUT("instrument", "Quad panner: places one channel of the input at a point of a square");
