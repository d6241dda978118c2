#include "wavekit.h"

void delput(float x, float* line, int* rec) {
  if (rec[2] <= 0) return;
  // A write index outside the line (a record never set up, or overwritten)
  // restarts at the first slot rather than writing past the array.
  if (rec[0] < 0 || rec[0] >= rec[2]) rec[0] = 0;
  line[rec[0]] = x;
  if (++rec[0] >= rec[2]) rec[0] = 0;
}
