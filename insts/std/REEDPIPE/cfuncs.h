// Fixed-size circular delay lines shared by the reed model and by any plug-in
// that binds these names.
//
// A line is a caller-owned array of `length` floats plus a record of three
// ints: {write index, rate, length}. Samples go in through wavekit's delput,
// which stores at the write index and then advances it, so right after a
// put the sample written d puts ago sits at (write index - d) mod length.
// These functions keep no state of their own.
#pragma once

#include "Instrument.h"

extern "C" {

// record = {0, trunc(rate), length}; clears slots 0 .. length - 1.
VEMORA_EXPORT void mdelset(float rate, float* line, int* record, int length);
// The sample written `delay` puts ago (1 <= delay <= length). Delay 0 reads
// the slot about to be overwritten (the oldest sample, as delay == length);
// a delay reaching further back than write index + length gives 0.0.
VEMORA_EXPORT float mdelget(float* line, int delay, int* record);
// Linear interpolation between the samples written trunc(delay) and
// trunc(delay) + 1 puts ago, weighted by the fractional part.
VEMORA_EXPORT float mdliget(float* line, float delay, int* record);
}
