// FAUXGLIDE: plays one channel of the input at a speed that follows a pitch
// curve, with a short fade at both ends of every input block.
//
// p0 output start (s)   p1 input start (s)   p2 duration (s); a negative p2 is
// the end time in the input and the duration becomes -p2 - p1   p3 amplitude
// p4 pitch-curve table number   p5 input channel (default 0)   p6 share of
// channel 0 when the output is stereo, 0..1 (default 0.5).
// Table p4 holds the transposition in linear octaves (1.0 = an octave up),
// table 1 (optional) an amplitude curve; both are stretched over the note and
// read without interpolation.
// The output is the quadratic through the three newest input samples, times
// a fade that rises over the first 100 frames of each block of RTBUFSAMPS
// input frames and falls over its last 100. The pitch curve is read on
// frames 0, 20, 40 ... of each run call; the amplitude curve on note frames
// 0, P, 2P ..., P = trunc(SR / resetval), whatever the chunk boundaries.
#pragma once

#include "Instrument.h"
#include "varispeed_glide.h"

class FAUXGLIDE : public VarispeedGlide {
 public:
  FAUXGLIDE() : VarispeedGlide("FAUXGLIDE") {}
  int init(double p[], int n_args) override;
  int run() override;

 private:
  int refuseWithoutPitchCurve(int slot) override;

  int ctrlCountdown = 0;  // runs over the whole note
  float aamp = 0.0f;
};
