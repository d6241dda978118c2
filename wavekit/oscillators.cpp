// Wavetable oscillators. oscil/oscili keep their phase in a caller-owned
// float (table entries); Ooscili keeps a 16.16 fixed-point phase that
// instruments may read and re-phase. The arithmetic is spelled out in wavekit.h.
#include <climits>
#include <cmath>
#include <cstdint>

#include "wavekit.h"

namespace {

// Phase in [0, len) as a float: fmod into the table, then rounded. A phase
// that has just stepped past either end, the usual case, needs no fmod: in
// [len, 2 len) fmod gives phase - len, and that subtraction is exact; in
// (-len, 0) it gives the phase itself (at -len itself it gives -0.0).
[[gnu::noinline]] float wrapPhase(double phase, int len) {
  if (!(phase >= 0.0 && phase < len)) {
    if (phase >= len && phase < 2.0 * len) {
      phase -= len;
    } else if (phase < 0.0 && phase > -static_cast<double>(len)) {
      phase += len;
    } else {
      phase = std::fmod(phase, static_cast<double>(len));
      if (phase < 0.0) phase += len;
    }
  }
  // Rounding to float can carry a phase just below len up to len itself.
  const float stored = static_cast<float>(phase);
  return stored >= 0.0f && stored < static_cast<float>(len) ? stored : 0.0f;
}

// The common step of oscil and oscili, which run once per frame: the phase
// stored by the last call lies inside the table (wrapPhase would hand it back
// unchanged), and so does its sum with si. That sum is taken in float: the
// double sum rounded to float is the float sum (a double holds more than
// twice a float's precision, so rounding twice gives what rounding once
// does), and when that float lies inside the table so did the double. The
// tests compare with float(len), the bound wrapPhase puts on what it stores;
// as the float nearest len it leaves no float between itself and len, so
// they also answer whether the phase lies below len. When either test
// fails, the *Wrapped forms below do the whole step in double.
inline bool insideTable(float phase, int len) { return phase >= 0.0f && phase < static_cast<float>(len); }

[[gnu::noinline]] float oscilWrapped(float amp, float si, double* t, int len, float* phs) {
  const float phase = wrapPhase(*phs, len);
  const float out = static_cast<float>(amp * t[static_cast<int>(phase)]);
  *phs = wrapPhase(static_cast<double>(phase) + si, len);
  return out;
}

inline double interpolate(const double* t, int len, float phase) {
  const int k = static_cast<int>(phase);
  const int next = k + 1 == len ? 0 : k + 1;
  return t[k] + (t[next] - t[k]) * (static_cast<double>(phase) - k);
}

[[gnu::noinline]] float osciliWrapped(float amp, float si, double* t, int len, float* phs) {
  const float phase = wrapPhase(*phs, len);
  const double value = interpolate(t, len, phase);
  *phs = wrapPhase(static_cast<double>(phase) + si, len);
  return static_cast<float>(amp * value);
}

inline int toIncrement(double increment) {
  if (!(increment == increment)) return 0;
  if (increment >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (increment <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(increment);
}

}  // namespace

float oscil(float amp, float si, double* t, int len, float* phs) {
  if (t == nullptr || len <= 0) return 0.0f;
  const float phase = *phs;
  if (insideTable(phase, len)) {
    const float next = phase + si;
    if (insideTable(next, len)) {
      const float out = static_cast<float>(amp * t[static_cast<int>(phase)]);
      *phs = next;
      return out;
    }
  }
  return oscilWrapped(amp, si, t, len, phs);
}

float oscili(float amp, float si, double* t, int len, float* phs) {
  if (t == nullptr || len <= 0) return 0.0f;
  const float phase = *phs;
  if (insideTable(phase, len)) {
    const float next = phase + si;
    if (insideTable(next, len)) {
      const double value = interpolate(t, len, phase);
      *phs = next;
      return static_cast<float>(amp * value);
    }
  }
  return osciliWrapped(amp, si, t, len, phs);
}

Ooscili::Ooscili(float srate, float freq, double* table, int length)
    : incrementFactor(0.0), phaseIncrement(0), phase(0), tableLength(length), table(table) {
  if (srate > 0.0f && std::isfinite(srate) && tableLength > 0)
    incrementFactor = static_cast<double>(tableLength) / static_cast<double>(srate);
  setfreq(freq);
}

void Ooscili::setfreq(float freq) {
  phaseIncrement = toIncrement(incrementFactor * static_cast<double>(freq) * phaseUnit());
}

float Ooscili::next() {
  if (table == nullptr || tableLength <= 0) return 0.0f;
  // 64-bit so that a phase or length written from outside cannot overflow.
  const int bits = fractionBits();
  const int64_t span = static_cast<int64_t>(tableLength) << bits;
  int64_t pos = phase;
  if (pos < 0 || pos >= span) {
    pos %= span;
    if (pos < 0) pos += span;
  }
  const int64_t k = pos >> bits;
  const int64_t next = k + 1 == tableLength ? 0 : k + 1;
  const double frac = static_cast<double>(pos & ((int64_t(1) << bits) - 1)) * (1.0 / phaseUnit());
  const double value = table[k] + (table[next] - table[k]) * frac;

  pos += phaseIncrement;
  if (pos < 0 || pos >= span) {
    pos %= span;
    if (pos < 0) pos += span;
  }
  phase = static_cast<int>(pos);
  return static_cast<float>(value);
}
