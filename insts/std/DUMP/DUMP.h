// DUMP: a silent diagnostic note that prints its live parameter values to
// standard output at the control rate, so that a score writer can watch a
// pfield or a pfield table change during a note.
//
// p0 output start (s)   p1 duration (s)   p2 the watched value ("amp"); a
// number or a table that moves over the note   p3 (optional) a table whose
// entries are all printed at every refresh.
// Three pfields: value mode, a line whenever p2 has changed since the last
// line. Four or more: table mode, the whole p3 table at every refresh, with
// standard output flushed after each dump.
// Refreshes fall on note frames 0, N, 2N ... with N = trunc(SR / resetval).
// The output, mono or stereo, is silence.
#pragma once

#include "Instrument.h"

class DUMP : public Instrument {
 public:
  DUMP();
  ~DUMP() override;
  int init(double p[], int n_args) override;
  int configure() override;
  int run() override;

 private:
  void doupdate();

  int nargs = 0;
  int ctrlPeriod = 0;
  int ctrlCountdown;
  int dumpTableLen;
  float prevAmp;
  double* dumpTable;
};
