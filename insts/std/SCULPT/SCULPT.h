// SCULPT: one wavetable oscillator stepped through a sequence of equally
// long points. Each point takes its frequency from table 3 and its level
// from table 4; both hold still for the point and step at its boundary.
//
// p0 output start (s)   p1 length of one point (s)   p2 amplitude multiplier
// p3 number of points (the note lasts p1 x p3 s)   p4 share of a stereo
// output sent to channel 0
// Table 1 (optional) phrase curve over the whole note, read without
// interpolation at each point start; table 2 waveform, one cycle; table 3
// frequencies in Hz, one per point; table 4 levels in dB, one per point,
// raised by 60 (so 0 dB plays at 1000 x p2 and -60 dB at p2).
// Points start at note frames 0, P, 2P ... with P = trunc(SR x p1). A table
// 3 or 4 shorter than the points played holds its last entry.
// A one-channel output gets the signal; two channels split it by p4; from
// three channels on, the signal goes to channel 0 alone.
#pragma once

#include "Instrument.h"

class SCULPT : public Instrument {
 public:
  SCULPT();
  ~SCULPT() override;
  int init(double p[], int n_args) override;
  int run() override;

 private:
  void nextPoint();
  void writeSpan(float* out, int frames);

  double* waveform = nullptr;
  double* ampCurve = nullptr;
  double* freqPoints = nullptr;
  double* ampPoints = nullptr;
  float phase = 0.0f;
  float phaseIncr = 0.0f;
  float amp = 0.0f;
  float aamp = 0.0f;
  float ampTabs[2] = {0.0f, 0.0f};
  float pctLeft = 0.0f;
  int waveLen = 0;
  int pointFrames = 0;
  int ctrlCountdown;
  int pointIndex = 0;
  // Last entries of tables 3 and 4 that a point may read.
  int lastFreqPoint = 0;
  int lastAmpPoint = 0;
};
