// HOSTPING: lets a score signal the program that embeds the engine. A note
// makes no sound; when the render reaches its start time it raises the
// host's flag bang_ready, which the host reads (and clears) between blocks.
//
// p0 start time (s); any further pfields are ignored.
// The plug-in has no registration entry: the host binds makeHOSTPING under
// the name "HOSTPING" itself (the engine does so when a score loads it).
#pragma once

#include "Instrument.h"

class HOSTPING : public Instrument {
 public:
  HOSTPING();
  ~HOSTPING() override;
  int init(double p[], int n_args) override;
  int run() override;
};
