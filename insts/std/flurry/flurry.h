// flurry: a whole note of wavetable (or noise) grains written at once (a
// legacy note function).
//
// Every grain parameter has two sets of (low, mid, high, tightness): set A
// where its control function reads 0, set B where it reads 1. Each grain
// draws its frequency, its successor's duration, start offset and stereo
// location from the sets interpolated at the control value. The output
// position moves by the grain period plus the drawn offset, so grains may
// leave gaps or overlap, and overlapping grains add.
//
// p0 start (s)   p1 duration (s)   p2 amplitude
// p3, p4   grain period (s) where the density function reads 0, 1
// p5-p8, p9-p12    start offset, a fraction of (gap + next grain length):
//                  the set at the note's first frame, the set at its end
// p13-p16, p17-p20 grain duration (s); p14 is also the first grain's
// p21-p24, p25-p28 location: share of output channel 0; p21 is the first
// p29-p32, p33-p36 frequency (Hz); p29 below 0 makes every grain noise
// p37 random seed (0 when not above 0)
// Tables: 1 phrase curve (optional), 2 density, 3 duration, 4 location,
// 5 frequency functions (stretched over p1 - p4), 6 waveform, 8 grain
// envelope (stretched over each grain). The gain is recomputed every other
// frame of a grain.
#pragma once

#include "Instrument.h"

extern "C" {
// The bounded draw: symmetric around mid by the wider half-range, sizes
// shaped by the tightness, redrawn until the value lies in [low, high].
VEMORA_EXPORT double prob(double low, double mid, double high, double tight);
}
