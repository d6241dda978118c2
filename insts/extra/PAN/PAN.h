// PAN: places one channel of the input between the two channels of a stereo
// output.
//
// p0 output start (s)   p1 input start (s)   p2 duration (s), also the span
// of both curves   p3 amplitude   p4 input channel (default 0)   p5 pan law:
// 0 constant power (square-root gains, the default), else linear   p6 pan,
// clamped to 0..1: 1 is all on output channel 0, 0 all on channel 1; without
// p6 the pan comes from table 2.
// Table 1 (optional) is an amplitude curve over the note.
// Amplitude and pan are refreshed every trunc(SR / resetval) frames; the
// gains only when the pan changes.
#pragma once

#include "Instrument.h"

class PAN : public Instrument {
 public:
  PAN();
  ~PAN() override;
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
  float prevPan;
  float leftGain = 0.0f;
  float rightGain = 0.0f;
  float* inBuffer;
  float ampTabs[2] = {0.0f, 0.0f};
  float panTabs[2] = {0.0f, 0.0f};
  double* ampCurve = nullptr;
  double* panCurve;
};
