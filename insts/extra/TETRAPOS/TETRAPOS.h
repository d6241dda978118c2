// TETRAPOS: places one channel of the input at a point of a square listening
// field and spreads it over four output channels, one per corner, with a
// constant-power law on each axis.
//
// p0 output start (s)   p1 input start (s)   p2 duration (s)   p3 amplitude
// p4 source x, clamped to -1..1 (-1 the side of channels 0 and 2, +1 of 1
// and 3)   p5 source y, clamped to -1..1 (+1 the side of channels 0 and 1,
// -1 of 2 and 3)   p6 input channel (default 0).
// The output must have four channels: 0 front left, 1 front right, 2 rear
// left, 3 rear right.
// p3, p4 and p5 are re-read every ctrlSkip frames (table pfields move the
// source during the note); the gains are recomputed only when the position
// changes.
#pragma once

#include "Instrument.h"

class TETRAPOS : public Instrument {
 public:
  TETRAPOS();
  ~TETRAPOS() override;
  int init(double p[], int n_args) override;
  int configure() override;
  int run() override;

 private:
  void doupdate();
  int usage();

  int inChannel = 0;
  int ctrlCountdown;
  double amp = 0.0;
  double prevX;
  double prevY;
  double gains[4] = {0.0, 0.0, 0.0, 0.0};
  double speakerAngles[4];
  float* inBuffer;
};
