// FLURRYR: a stream of short wavetable grains, mono or stereo, no input.
//
// Each run call is cut into as many equal slots as whole grain periods fit
// into it, one grain per slot; a call shorter than a period holds a grain
// only by chance, with the probability of its share of a period. Every
// grain draws its frequency, duration, position in the slot and stereo
// placement from a (low, mid, high, tightness) range: the draws crowd around
// mid as the tightness grows above 1, and spread to the far bound below 1.
//
// p0 start (s)   p1 duration (s)   p2 amplitude   p3 grain period (s)
// p4-p7   position in the slot: fraction of its free space, low mid high tight
// p8-p11  grain duration (s), low mid high tight; high may not exceed p3
// p12-p15 placement: 1 all on output channel 0, 0 all on channel 1
// p16-p19 frequency in Hz (below 15.0: octave.pitch-class), low mid high tight
// p20 unused   p21 random seed
// Within each range the mid is raised to the low and the high to the mid.
// Tables: 1 phrase curve over the note (optional), 2 waveform (required),
// 3 grain envelope stretched over each grain's drawn duration (optional).
// The phrase curve is read at control steps, which come every
// trunc(SR / resetval) + 1 frames of grain output.
#pragma once

#include "Instrument.h"

class FLURRYR : public Instrument {
 public:
  FLURRYR();
  ~FLURRYR() override;
  int init(double* p, int n) override;
  int run() override;

  // The bounded draw: symmetric around mid by the wider half-range, sizes
  // shaped by the tightness, redrawn until the value lies in [low, high].
  double prob(double low, double mid, double high, double tight);

 private:
  void controlStep();
  void writeFrame(float s);
  float grainSample(int envIndex);
  int continueGrain(int room);

  double* ampCurve = nullptr;
  double* waveform = nullptr;
  double* grainEnv = nullptr;
  float ampTabs[2] = {0.0f, 0.0f};
  float grainEnvTabs[2] = {0.0f, 0.0f};
  float phaseIncr = 0.0f;
  float phase = 0.0f;
  float amp = 0.0f;
  float aamp = 0.0f;
  float grainFreq = 0.0f;
  float rate = 0.0f;
  float grainLoc = 0.0f;
  float grainPan = 0.0f;
  float startTime = 0.0f;
  float dur = 0.0f;
  float grainDur = 0.0f;
  int waveLen = 0;
  int ampCurveLen = 0;
  int grainEnvLen = 0;
  int ctrlPeriod = 0;
  int ctrlCountdown;
  double locRange[4] = {0.0, 0.0, 0.0, 0.0};
  double durRange[4] = {0.0, 0.0, 0.0, 0.0};
  double panRange[4] = {0.0, 0.0, 0.0, 0.0};
  double freqRange[4] = {0.0, 0.0, 0.0, 0.0};
  int inGrain;
  int carryIndex = 0;
  int grainFrames = 0;
};
