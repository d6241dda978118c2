// TREMOLO: one channel of the input, its level swung by a slow sine.
//
// p0 output start (s)   p1 input start (s)   p2 duration (s)   p3 amplitude
// p4 rate (Hz)   p5 depth, clamped to 0..1: the level falls to
// 1 - depth at the sine's trough   p6 input channel (default 0)
// Every output channel gets the same sample:
//   input x amplitude x (1 - depth x (1 - cos(2 pi rate t)) / 2)
// with t the note's time, so a note starts at full level.
// Amplitude and depth may change during the note; they are refreshed every
// trunc(SR / resetval) frames.
#pragma once

#include "Instrument.h"

class TREMOLO : public Instrument {
 public:
  TREMOLO();
  ~TREMOLO() override;
  int init(double p[], int n_args) override;
  int configure() override;
  int run() override;

 private:
  void doupdate();

  int nargs = 0;
  int inChannel = 0;
  int ctrlPeriod = 0;
  int ctrlCountdown;
  float amp = 0.0f;
  float depth = 0.0f;
  double phaseStep = 0.0;  // radians per frame
  float* inBuffer;
  float* outFrame;  // one output frame, every channel alike
};
