// gravy: transposes and time-stretches a passage of the input by
// overlap-adding windowed grains (a legacy note function).
//
// Each grain is one window of output read from the input at the transposition
// ratio, with three-point quadratic interpolation, and shaped by the window
// envelope (table 1, stretched over one grain). Grains overlap by half a
// window in the output; in the input they start half a window divided by the
// stretch factor apart, so the output lasts about p5 times the passage.
//
// p0 output start (s)   p1 input start (s)   p2 length of input to process (s)
// p3 window (grain) length (s)   p4 amplitude   p5 stretch: output length /
// input length   p6 transposition, octave.pitch-class interval (0.07 = seven
// semitones up, -1.00 = an octave down)   p7 input channel (truncated)
// p8 share of output channel 0 when the output has two or more channels.
// The envelope is read at frames 0, N, 2N, ... of every grain, with
// N = trunc(SR / resetval) (every frame when that is 0).
#pragma once

#include "Instrument.h"

extern "C" {
// The quadratic through (0, y0), (1, y1), (2, y2), evaluated at x.
VEMORA_EXPORT double interp(double y0, double y1, double y2, double x);
// Frequency ratio of an octave.pitch-class interval: 2^(octaves + pc / 0.12).
VEMORA_EXPORT float transpose(float interval);
}
