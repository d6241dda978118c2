// wavekit, the gen library: table lookup, oscillators, random numbers, delay
// lines and level conversion. Pure functions of their arguments (the random
// generator keeps one process-wide state).
#pragma once

#include "function_tables.h"
#include "pitchconv.h"

// Stretches a table of size entries over dur seconds: afterwards frame 0
// reads entry 0 and frame dur x SR reads the last entry.
void tableset(float SR, float dur, int size, float* tabs);
// Value at frame i, without interpolation; frames past the end read the last entry.
double table(long i, double* t, float* tabs);
// As table, linearly interpolated between neighbouring entries.
double tablei(long i, double* t, float* tabs);

// amp x t[phase]; the phase advances by si entries and wraps at len.
float oscil(float amp, float si, double* t, int len, float* phs);
// As oscil, linearly interpolated between neighbouring entries.
float oscili(float amp, float si, double* t, int len, float* phs);

// Interpolating wavetable oscillator with a 16.16 fixed-point phase.
// The state is public: callers may read and re-phase it.
class Ooscili {
 public:
  Ooscili(float srate, float freq, double* table, int length);
  float next();
  void setfreq(float freq);

  double incrementFactor;  // table length / sampling rate
  int phaseIncrement;      // 16.16 table positions per frame
  int phase;               // 16.16 table position
  int tableLength;
  double* table;
};

// Next value of the process-wide generator, uniform in [-1, 1).
double rrand();
void srrand(unsigned seed);

// Stores x at write index rec[0], then advances the index, wrapping at rec[2].
void delput(float x, float* line, int* rec);

// 10^(db/20).
double ampdb(float db);
