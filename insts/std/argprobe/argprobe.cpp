// argprobe: a legacy note that writes a known test signal into the output,
// frame by frame: two rising ramps that wrap when they pass their ceilings,
// or two constants.
//
// p0 output start (s)   p1 duration (s)   p2 ceiling of the channel-0 ramp,
// or the channel-0 constant   p3 ceiling of the channel-1 ramp, or the
// channel-1 constant (p2 when absent)   p4 step added to both ramps per frame
// (0 when absent); a step that is not above 0 gives the constants.
// Ramps start at 0 and climb by p4; a value whose next step would pass its
// ceiling restarts at p4, not at 0. Channels past the second are silent.
#include <algorithm>
#include <cstddef>
#include <vector>

#include "Instrument.h"
#include "legacy_note.h"

namespace {

constexpr int kOutput = 1;

double argprobe(float* p, int n_args, double*) {
  const int frames = setnote(p[0], p[1], kOutput);
  const float ceiling0 = p[2];
  const float ceiling1 = n_args > 3 ? p[3] : p[2];
  const float step = n_args > 4 ? p[4] : 0.0f;
  if (frames > 0) {
    const bool ramps = step > 0.0f;
    // The engine adds sfdesc[1] samples per frame: the two test channels,
    // then silence on any others.
    std::vector<float> frame(std::size_t(std::max(sfdesc[kOutput], 2)), 0.0f);
    float value0 = ramps ? 0.0f : ceiling0;
    float value1 = ramps ? 0.0f : ceiling1;
    for (int i = 0; i < frames; ++i) {
      frame[0] = value0;
      frame[1] = value1;
      addoutpointer[kOutput](frame.data(), kOutput);
      if (ramps) {
        value0 += step;
        if (value0 > ceiling0) value0 = step;
        value1 += step;
        if (value1 > ceiling1) value1 = step;
      }
    }
  }
  endnote(kOutput);
  return 0.0;
}

}  // namespace

extern "C" VEMORA_EXPORT int profile() {
  addLegacyfunc("argprobe", argprobe);
  return 0;
}

VEMORA_PLUGIN_ABOUT("legacy note", "Test signal written through the note-at-once interface");
