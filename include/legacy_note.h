// The legacy note interface: plain functions that the engine calls once per
// note (or once per score call, for score functions) and that write the
// whole note through numbered sound files before they return.
//
// File number 0 is the input (the score's current rtinput), 1 the output.
// Counts are in samples (frames x channels) unless a name says frames.
#pragma once

#include "plugin_interface.h"

// Legacy function type: the pfields as floats, their count, and the same
// values as doubles.
using LegacyFunction = double (*)(float* p, int n, double* pp);

int addLegacyfunc(const char* name, LegacyFunction fn);

constexpr int kLegacyFileCount = 2;

// Positions file fno at start seconds; returns the frames in dur seconds.
int setnote(float start, float dur, int fno);
// As setnote, for an input read frame by frame through getsample.
int getsetnote(float start, float dur, int fno);
int endnote(int fno);
float SR();

// Reads (or adds) n interleaved samples at the file's position and advances it.
int bgetin(float* buf, int fno, int n);
int baddout(float* buf, int fno, int n);
// Moves the read (or write) position by a signed number of frames.
int inrepos(int frames, int fno);
int outrepos(int frames, int fno);

// The engine's sampling routine: fills frame with the input frame at the
// fractional position pos (frames from the note's input start), linearly
// interpolated. Returns 0 when pos lies outside the input.
extern int (*getsample)(double pos, float* frame, int fno);
// Output routines by file number: adds one frame at the position, advances it.
extern int (*addoutpointer[kLegacyFileCount])(float* frame, int fno);
// Channel count of each open file.
extern int sfdesc[kLegacyFileCount];
