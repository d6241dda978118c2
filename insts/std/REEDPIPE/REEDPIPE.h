// REEDPIPE: a blown reed on a pipe. A breath signal (table 1, roughened by
// noise) drives a memoryless reed curve; the reed output is smoothed by a
// one-pole low-pass and fed back through two 500-sample delay lines whose
// clipped, mixed outputs return to the reed input.
//
// p0 output start (s)   p1 duration (s), also the span of both tables
// p2 breath-noise amplitude   p3 delay of line 1 (samples, 0 or more)
// p4 delay of line 2 (samples, 0 or more)   p5 output amplitude
// p6 reflection balance: weight of line 2 in the feedback, line 1 gets
// 0.9 - p6   p7 share of a stereo output sent to channel 0
// Table 1 (optional) is the breath envelope, read without interpolation;
// table 2 (optional) the output envelope, read interpolated. Both are read
// every trunc(SR / resetval) frames, counted over the whole note.
// A one-channel output gets the signal; two channels split it by p7; from
// three channels on, the signal goes to channel 0 alone.
#pragma once

#include "Instrument.h"

class REEDPIPE : public Instrument {
 public:
  REEDPIPE();
  ~REEDPIPE() override;
  int init(double p[], int n_args) override;
  int run() override;

  static constexpr int kLineLength = 500;

 private:
  int line1Rec[3] = {0, 0, 0};
  int line2Rec[3] = {0, 0, 0};
  int delay1 = 0;
  int delay2 = 0;
  float line1[kLineLength];
  float line2[kLineLength];
  float amp = 0.0f;
  float noiseAmp = 0.0f;
  float prevOut = 0.0f;
  float curNoiseCurve = 1.0f;
  float curAmpCurve = 1.0f;
  double* noiseCurve = nullptr;
  double* ampCurve = nullptr;
  float noiseTabs[2] = {0.0f, 0.0f};
  float ampTabs[2] = {0.0f, 0.0f};
  float reflMix = 0.0f;
  float pctLeft = 0.0f;
  int ctrlPeriod = 0;
  int ctrlCountdown;
};
