#include "DUMP.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace {

// update() fills a local array; only p2 is ever looked at, so pfields past
// this many need not be fetched.
constexpr int kPFieldSlots = 64;

}  // namespace

DUMP::DUMP()
    : ctrlCountdown(0), dumpTableLen(0), prevAmp(-std::numeric_limits<float>::infinity()), dumpTable(nullptr) {}

DUMP::~DUMP() = default;

int DUMP::init(double p[], int n_args) {
  nargs = n_args;
  // Value mode watches p2: a note without one has nothing to show.
  if (nargs < 3)
    return die("DUMP", "Give at least 3 pfields: start, duration and the value to watch (p2); this note has %d.",
               nargs);
  if (rtsetoutput(float(p[0]), float(p[1]), this) == -1) return -1;
  rtaddinplace(this);  // it writes through rtaddout alone
  if (outChanCount >= 3) return die("DUMP", "Output must be mono or stereo.");
  if (nargs >= 4) dumpTable = getPFieldTable(3, &dumpTableLen);
  ctrlPeriod = int(SR / float(resetval));
  return noteFrames;
}

int DUMP::configure() { return 0; }

void DUMP::doupdate() {
  double p[kPFieldSlots];
  update(p, std::min(nargs, kPFieldSlots), 0);
  if (nargs >= 4) {
    std::printf("DUMP (frame=%d)..............................\n", frameCursor);
    for (int i = 0; i < dumpTableLen; ++i) std::printf("  [%d]\t%f\n", i, dumpTable[i]);
    std::fputs("\n", stdout);
    std::fflush(stdout);
    return;
  }
  // The last value is kept in single precision but compared widened, so a
  // value that single precision cannot hold (0.1) counts as a change at
  // every refresh.
  if (p[2] != double(prevAmp)) {
    prevAmp = float(p[2]);
    std::printf("DUMP (frame=%d):  amp=%f\n", frameCursor, double(prevAmp));
  }
}

int DUMP::run() {
  static constexpr float silence[2] = {0.0f, 0.0f};
  for (int i = 0; i < chunkFrames; ++i) {
    if (--ctrlCountdown <= 0) {
      doupdate();
      ctrlCountdown = ctrlPeriod;
    }
    rtaddout(silence);
    ++frameCursor;
  }
  return chunkFrames;
}

VEMORA_EXPORT Instrument* makeDUMP() {
  DUMP* inst = new DUMP();
  inst->set_bus_config("DUMP");
  return inst;
}

extern "C" VEMORA_EXPORT void rtprofile() {
  static rt_item this_rt = {nullptr, makeDUMP, "DUMP"};
  if (addrtInst(&this_rt) == -1) merror("DUMP");
}

VEMORA_PLUGIN_ABOUT("instrument", "Diagnostic: makes silence and prints its pfields at the control rate");
