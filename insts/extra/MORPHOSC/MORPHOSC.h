// MORPHOSC: one pitch played through a bank of wavetable oscillators, one per
// waveform table, cross-faded between neighbouring waveforms by a morph
// position.
//
// p0 output start (s)   p1 duration (s)   p2 frequency: Hz, or octave.pitch-
// class below 15.0   p3 amplitude   p4 morph, 0..1: N tables split it into N
// equal intervals; interval k (k >= 1) fades from waveform k-1 to waveform
// k, the first interval plays waveform 0 alone, 1.0 plays the last waveform
// alone, values above 1 extrapolate the last fade and values below 0 play
// waveform 0   p5 share of a stereo output on channel 0 (0..1)
// p6 ... one waveform table per pfield (at least one).
// p2 to p5 are re-read every ctrlSkip frames, so table pfields make them move
// during the note; the oscillator increments change only then.
// Every oscillator reads its table at the same point of the cycle as
// oscillator 0, whatever the table lengths.
#pragma once

#include "Instrument.h"

class Ooscili;

class MORPHOSC : public Instrument {
 public:
  MORPHOSC();
  ~MORPHOSC() override;
  int init(double p[], int n_args) override;
  int run() override;

 private:
  void doupdate();

  float amp = 0.0f;
  float pctLeft = 0.0f;
  Ooscili** oscils;
  double* breakpoints;
  double morph = 0.0;
  int nWaves;
  int ctrlCountdown = 0;
  // The interval that morph falls in and the position within it; morph only
  // changes at control steps, so they are found there.
  int interval = 0;
  double intervalFrac = 0.0;
};
