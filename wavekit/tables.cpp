// Table stretching: a note (or a grain) of any length reads a table from its
// first entry to its last. The arithmetic is spelled out in wavekit.h.
#include <cmath>

#include "wavekit.h"

void tableset(float SR, float dur, int size, float* tabs) {
  if (size <= 0) {
    // Nothing to read: table() and tablei() see a last index below 0 and give 0.
    tabs[0] = -1.0f;
    tabs[1] = 0.0f;
    return;
  }
  const double last = size - 1;
  // Above 2^24 entries a float cannot hold every index: round the last index
  // down so that no lookup lands past the end.
  float lastIndex = static_cast<float>(last);
  if (lastIndex > last) lastIndex = std::nextafter(lastIndex, 0.0f);
  tabs[0] = lastIndex;
  // Frames in single precision, as the note's own frame count is usually
  // formed: 0.1 s at 44100 Hz is 4410 frames, not 4410.0000657.
  const float frames = dur * SR;
  if (!(frames > 0.0f) || size == 1) {
    tabs[1] = 0.0f;  // every frame reads entry 0
    return;
  }
  float step = static_cast<float>(last / frames);
  // Rounding to float may land just below the true ratio; one step up makes
  // frame `frames` reach the last entry instead of stopping one short.
  if (static_cast<double>(step) * frames < last) step = std::nextafter(step, INFINITY);
  tabs[1] = step;
}

namespace {

// Table position of frame i, clamped to [0, last]; NaN (0 x infinity) reads entry 0.
inline double position(long i, const float* tabs, double last) {
  const double pos = static_cast<double>(i) * static_cast<double>(tabs[1]);
  if (!(pos > 0.0)) return 0.0;
  return pos < last ? pos : last;
}

}  // namespace

double table(long i, double* t, float* tabs) {
  const double last = tabs[0];
  if (last < 0.0) return 0.0;
  return t[static_cast<long>(position(i, tabs, last))];
}

double tablei(long i, double* t, float* tabs) {
  const double last = tabs[0];
  if (last < 0.0) return 0.0;
  const double pos = position(i, tabs, last);
  const long k = static_cast<long>(pos);
  if (k >= static_cast<long>(last)) return t[k];
  return t[k] + (t[k + 1] - t[k]) * (pos - k);
}
