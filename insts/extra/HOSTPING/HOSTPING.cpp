#include "HOSTPING.h"

HOSTPING::HOSTPING() = default;

HOSTPING::~HOSTPING() = default;

int HOSTPING::init(double p[], int n_args) {
  // A note of no length: the engine calls run once, when its start is reached.
  const float start = n_args > 0 ? float(p[0]) : 0.0f;
  if (rtsetoutput(start, 0.0f, this) == -1) return -1;
  return noteFrames;
}

// Only ever raises the flag; clearing it is the host's business. Reports
// one frame done, which ends the note.
int HOSTPING::run() {
  bang_ready = 1;
  return 1;
}

// Looked up by its plain name by the host that binds it.
extern "C" VEMORA_EXPORT Instrument* makeHOSTPING() {
  HOSTPING* inst = new HOSTPING();
  inst->set_bus_config("HOSTPING");
  return inst;
}

VEMORA_PLUGIN_ABOUT("instrument", "A cue for the program that embeds the engine; makes no sound");
