#include "TREMOLO.h"

#include <cmath>
#include <new>
#include <numbers>

namespace {

// Bits 3 and 5: amplitude and depth may change during the note.
constexpr unsigned kDynamicFields = (1u << 3) | (1u << 5);

}  // namespace

TREMOLO::TREMOLO() : ctrlCountdown(0), inBuffer(nullptr), outFrame(nullptr) {}

TREMOLO::~TREMOLO() {
  delete[] inBuffer;
  delete[] outFrame;
}

int TREMOLO::init(double p[], int n_args) {
  nargs = n_args;
  if (nargs < 6) return die("TREMOLO", "Give p0-p5: start, inskip, duration, amplitude, rate, depth.");
  if (rtsetoutput(float(p[0]), float(p[2]), this) == -1) return -1;
  if (rtsetinput(float(p[1]), this) == -1) return -1;
  const double channel = nargs > 6 ? std::trunc(p[6]) : 0.0;
  if (!(channel >= 0.0 && channel < inChanCount))
    return die("TREMOLO", "You asked for channel %g of a %d-channel input.", channel, inChanCount);
  inChannel = int(channel);
  phaseStep = 2.0 * std::numbers::pi * p[4] / SR;
  ctrlPeriod = int(SR / float(resetval));
  return noteFrames;
}

int TREMOLO::configure() {
  inBuffer = new (std::nothrow) float[size_t(inChanCount) * size_t(RTBUFSAMPS)];
  outFrame = new (std::nothrow) float[size_t(outChanCount)];
  return inBuffer && outFrame ? 0 : -1;
}

void TREMOLO::doupdate() {
  double p[6] = {};
  update(p, 6, kDynamicFields);
  amp = float(p[3]);
  depth = float(std::fmin(std::fmax(p[5], 0.0), 1.0));
}

int TREMOLO::run() {
  const int samples = inChanCount * chunkFrames;
  rtgetin(inBuffer, this, samples);
  for (int i = 0; i < samples; i += inChanCount) {
    if (--ctrlCountdown <= 0) {
      doupdate();
      ctrlCountdown = ctrlPeriod;
    }
    // The phase from the note's frame, not a running sum, so that it does
    // not drift over a long note.
    const double swing = 0.5 * (1.0 - std::cos(phaseStep * frameCursor));
    const float gain = amp * float(1.0 - depth * swing);
    for (int c = 0; c < outChanCount; ++c) outFrame[c] = inBuffer[i + inChannel] * gain;
    rtaddout(outFrame);
    ++frameCursor;
  }
  return chunkFrames;
}

VEMORA_EXPORT Instrument* makeTREMOLO() {
  TREMOLO* inst = new TREMOLO();
  inst->set_bus_config("TREMOLO");
  return inst;
}

extern "C" VEMORA_EXPORT void rtprofile() {
  static rt_item this_rt = {nullptr, makeTREMOLO, "TREMOLO"};
  if (addrtInst(&this_rt) == -1) merror("TREMOLO");
}

// What vemora --list-plugins says of it.
VEMORA_PLUGIN_ABOUT("instrument", "A tremolo: the input's level rises and falls at a steady rate");
