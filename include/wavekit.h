// wavekit, the gen library: table lookup, oscillators, random numbers, delay
// lines and level conversion. Pure functions of their arguments (the random
// generator keeps one process-wide state).
#pragma once

#include "function_tables.h"
#include "pitchconv.h"

// Stretches a table of size entries over dur seconds: afterwards frame 0
// reads entry 0 and frame dur x SR reads the last entry.
//   tabs[0] = the last index, size - 1, as a float (rounded down when the
//             float cannot hold it, above 2^24 entries; -1 when size <= 0);
//   tabs[1] = entries per frame: frames = dur * SR in single precision, then
//             (size - 1) / frames in double, rounded to float and raised by
//             one float step when needed so that frames * tabs[1] reaches
//             size - 1. It is 0 when frames <= 0 (or NaN) or size is 1:
//             every frame then reads entry 0.
void tableset(float SR, float dur, int size, float* tabs);
// Value at frame i, without interpolation: pos = i * tabs[1] in double,
// clamped to [0, tabs[0]]; the entry is t[trunc(pos)]. Frames past the end
// read the last entry, negative frames entry 0; 0.0 when tabs[0] < 0.
double table(long i, double* t, float* tabs);
// As table, linearly interpolated: with k = trunc(pos), the value is
// t[k] + (t[k+1] - t[k]) * (pos - k) in double; t[k] alone at the last entry.
double tablei(long i, double* t, float* tabs);

// amp x t[phase]; the phase advances by si entries and wraps at len.
// The result is (float)(amp * t[trunc(phase)]), the product in double. The
// new phase is phase + si in double, wrapped into [0, len) (fmod, so negative
// and larger-than-len steps work), then stored as a float; a stored value
// that rounds up to len becomes 0. A phase outside [0, len) on entry (set by
// hand, NaN) is wrapped the same way before the read. Null t or len <= 0
// gives 0 and leaves the phase alone.
float oscil(float amp, float si, double* t, int len, float* phs);
// As oscil, linearly interpolated between neighbouring entries: with
// k = trunc(phase), (float)(amp * (t[k] + (t[k1] - t[k]) * (phase - k))),
// where k1 = (k + 1) % len, so the last entry leads back to the first.
float oscili(float amp, float si, double* t, int len, float* phs);

// The phase oscil stores after a step from phase (inside the table) that
// left the table by less than its length, the usual wrap: false for any
// other step, which oscil itself then takes. The arithmetic is oscil's: the
// step in double, one length added or taken away, rounded to float, and a
// float that rounds up to the length stored as 0.
inline bool oscilWrapsNear(float phase, float si, int len, float* wrapped) {
  double next = static_cast<double>(phase) + si;
  if (next >= len && next < 2.0 * len)
    next -= len;
  else if (next < 0.0 && next > -static_cast<double>(len))
    next += len;
  else if (!(next >= 0.0 && next < len))
    return false;
  const float stored = static_cast<float>(next);
  *wrapped = stored >= 0.0f && stored < static_cast<float>(len) ? stored : 0.0f;
  return true;
}

// oscil over n frames in a row, inline, for an instrument's inner loop: emit
// gets each frame's sample, (float)(amp * t[trunc(phase)]) as oscil gives
// it. Steps run in a tight loop of an add, one comparison and a lookup, and
// a wrap past either end is taken in place; anything else (a step longer
// than the table, a phase set outside it by hand, NaN) goes through oscil
// itself, so the samples and the phase left in *phs are oscil's to the bit.
template <class Emit>
inline void oscilFrames(float amp, float si, double* t, int len, float* phs, int n, Emit&& emit) {
  float phase = *phs;
  const float end = static_cast<float>(len);
  const double gain = amp;
  int i = 0;
  // From a phase inside the table a step forward cannot fall below 0, nor
  // one backward reach the end (rounding keeps the order of phase and
  // phase + si), so each direction tests one bound.
  auto steps = [&](auto inside) {
    for (; i < n; ++i) {
      const float next = phase + si;
      float wrapped = next;
      if (!inside(next) && !oscilWrapsNear(phase, si, len, &wrapped)) break;
      emit(i, static_cast<float>(gain * t[static_cast<int>(phase)]));
      phase = wrapped;
    }
  };
  while (i < n) {
    if (t != nullptr && phase >= 0.0f && phase < end) {
      if (si >= 0.0f)
        steps([end](float next) { return next < end; });
      else if (si < 0.0f)
        steps([](float next) { return next >= 0.0f; });
      if (i == n) break;
    }
    float wrapped = phase;
    emit(i++, oscil(amp, si, t, len, &wrapped));
    phase = wrapped;
  }
  *phs = phase;
}

// Interpolating wavetable oscillator with a fixed-point phase: 16.16 (a
// position in entries, with 16 bits of fraction) for tables of up to 32767
// entries. A longer table keeps fewer bits of fraction, as many as let
// tableLength << bits fit a 32-bit int (15 up to 65535 entries, 14 up to
// 131071 ...), so that it plays whole. The state is public: callers may read
// and re-phase it, in units of phaseUnit() per entry.
//   incrementFactor = tableLength / srate, in double (0 when srate <= 0);
//   phaseIncrement  = trunc(incrementFactor * (double)freq * phaseUnit()),
//                     clamped to the int range (0 for NaN); setfreq
//                     recomputes it;
//   phase starts at 0. next() returns t[k] + (t[k1] - t[k]) * f as a float,
//   computed in double, with k = phase >> bits, f = (phase mod phaseUnit())
//   / phaseUnit() and k1 = (k + 1) % tableLength; then phase +=
//   phaseIncrement, wrapped into [0, tableLength * phaseUnit()) (negative
//   increments run backwards).
// A phase written from outside that range is wrapped before the read. A null
// table or a length <= 0 makes next() return 0.
class Ooscili {
 public:
  Ooscili(float srate, float freq, double* table, int length);
  float next();
  void setfreq(float freq);
  // Bits of fraction in phase: 16 for tables of up to 32767 entries.
  int fractionBits() const {
    int bits = 16;
    while (bits > 0 && (static_cast<long long>(tableLength) << bits) > 2147483647LL) --bits;
    return bits;
  }
  // Phase units per table entry: 2^fractionBits(), 65536.0 for 16.16.
  double phaseUnit() const { return double(1 << fractionBits()); }

  double incrementFactor;  // table length / sampling rate
  int phaseIncrement;      // table positions per frame, in phase units
  int phase;               // table position, in phase units
  int tableLength;
  double* table;
};

// Next value of the process-wide generator, uniform in [-1, 1) with 53-bit
// resolution. The generator is splitmix64 over a 64-bit counter, identical
// on every machine; a process starts as if srrand(0) had been called.
double rrand();
// Restarts the sequence: the same seed always gives the same values.
void srrand(unsigned seed);

// Stores x at write index rec[0], then advances the index, wrapping at rec[2].
// A write index outside [0, rec[2]) restarts at 0; rec[2] <= 0 stores nothing.
void delput(float x, float* line, int* rec);

// 10^(db/20): pow(10.0, (double)db / 20.0).
double ampdb(float db);
