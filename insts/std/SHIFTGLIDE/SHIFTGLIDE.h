// SHIFTGLIDE: plays one channel of the input at a speed that follows a pitch
// curve, so that its pitch glides along the curve.
//
// p0 output start (s)   p1 input start (s)   p2 duration (s); a negative p2 is
// the end time in the input and the duration becomes -p2 - p1   p3 amplitude
// p4 pitch-curve table number   p5 input channel (default 0)   p6 share of
// channel 0 when the output is stereo, 0..1 (default 0.5).
// Table p4 holds the transposition in linear octaves (1.0 = an octave up),
// table 1 (optional) an amplitude curve; both are stretched over the note and
// read without interpolation.
// The output is the quadratic through the three newest input samples, the
// input two frames late at a ratio of 1. Within each run call the pitch
// curve is read on frames 0, 21, 42 ... and the amplitude curve on frames 0,
// P + 1, 2(P + 1) ..., P = trunc(SR / resetval): both restart with each call.
#pragma once

#include "Instrument.h"
#include "varispeed_glide.h"

class SHIFTGLIDE : public VarispeedGlide {
 public:
  SHIFTGLIDE() : VarispeedGlide("SHIFTGLIDE") {}
  int run() override;

 private:
  int refuseWithoutPitchCurve(int slot) override;
};
