#include "cfuncs.h"

#include <cstdint>

namespace {

// Positions are formed in 64 bits so that no delay a caller can pass
// overflows the subtraction from the write index.
inline bool insideLine(int64_t slot, int length) { return slot >= 0 && slot < length; }

}  // namespace

void mdelset(float rate, float* line, int* record, int length) {
  record[0] = 0;
  // The rate is kept for the caller only; a value no int can hold is stored
  // as 0 rather than converted out of range.
  record[1] = rate > -2147483648.0f && rate < 2147483648.0f ? int(rate) : 0;
  record[2] = length;
  for (int i = 0; i < length; ++i) line[i] = 0.0f;
}

float mdelget(float* line, int delay, int* record) {
  const int length = record[2];
  int64_t slot = int64_t(record[0]) - delay;
  if (slot < 0) slot += length;
  // Negative delays (or a write index outside the line) would land past the
  // newest sample; they read silence instead of memory beyond the array.
  if (!insideLine(slot, length)) return 0.0f;
  return line[slot];
}

float mdliget(float* line, float delay, int* record) {
  // NaN and delays no int can hold reach past any line: silence.
  if (!(delay > -2147483648.0f && delay < 2147483648.0f)) return 0.0f;
  const int length = record[2];
  const int whole = int(delay);
  const float frac = delay - float(whole);
  int64_t i = int64_t(record[0]) - whole;
  int64_t j = i - 1;
  if (i <= 0) {
    if (i < 0) {
      i += length;
      if (i < 0) return 0.0f;
    }
    j += length;
    if (j < 0) return 0.0f;
  }
  if (!insideLine(i, length) || !insideLine(j, length)) return 0.0f;
  return line[i] + (line[j] - line[i]) * frac;
}
