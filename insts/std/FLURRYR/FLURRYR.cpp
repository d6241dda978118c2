#include "FLURRYR.h"

#include <algorithm>
#include <cmath>

#include "bounded_draw.h"
#include "pfield_int.h"
#include "wavekit.h"

namespace {

constexpr const char* kName = "FLURRYR";

// Frame counts drawn from pfields stay far inside the int range, so that
// the slot arithmetic cannot overflow whatever the score asks for.
constexpr float kFrameLimit = float(1 << 30);

int framesOf(float x) { return truncWithin(x, kFrameLimit); }

// A range in the order low, mid, high, tightness: mid raised to low, high
// raised to mid.
void orderRange(double* range, double low, double mid, double high, double tight) {
  range[0] = low;
  range[1] = std::max(low, mid);
  range[2] = std::max(range[1], high);
  range[3] = tight;
}

double frequencyOf(double value) { return value < 15.0 ? cpspch(value) : value; }

}  // namespace

FLURRYR::FLURRYR() : ctrlCountdown(0), inGrain(0) {}

FLURRYR::~FLURRYR() = default;

// A range that no attempt reaches settles on mid, which init's ordering
// always puts in the range.
double FLURRYR::prob(double low, double mid, double high, double tight) {
  return boundedDraw(low, mid, high, drawHalfWidth(low, mid, high), tight, DrawFallback::Mid, rrandPick);
}

int FLURRYR::init(double* p, int) {
  startTime = float(p[0]);
  dur = float(p[1]);
  if (rtsetoutput(startTime, dur, this) == -1) return -1;
  rtaddinplace(this);  // it writes through rtaddout alone
  if (outChanCount >= 3) {
    die(kName, "Can't handle more than 2 output channels.");
    return -1;
  }
  waveform = floc(2);
  if (!waveform) {
    die(kName, "You need to store a waveform in function %d.", 2);
    return -1;
  }
  waveLen = fsize(2);
  phase = 0.0f;
  amp = float(p[2]);
  ampCurve = floc(1);
  if (ampCurve) {
    ampCurveLen = fsize(1);
    tableset(SR, dur, ampCurveLen, ampTabs);
  } else {
    vemora_advise(kName, "Setting phrase curve to all 1's.");
  }
  grainEnv = floc(3);
  if (grainEnv)
    grainEnvLen = fsize(3);
  else
    vemora_advise(kName, "Setting grain envelope to all 1's.");
  aamp = amp;
  ctrlPeriod = int(SR / float(resetval));

  rate = float(p[3]);
  orderRange(locRange, p[4], p[5], p[6], p[7]);
  orderRange(durRange, p[8], p[9], p[10], p[11]);
  if (durRange[2] > double(rate)) {
    die(kName, "Grain durations %f sec. are larger than rate: %f seconds per grain.", durRange[2], double(rate));
    return -1;
  }
  orderRange(panRange, p[12], p[13], p[14], p[15]);
  // Pitches are converted before the ordering, so a low given as a pitch
  // raises a mid given in Hz.
  orderRange(freqRange, frequencyOf(p[16]), frequencyOf(p[17]), frequencyOf(p[18]), p[19]);

  // A period shorter than one frame (or none at all) would make run cut a
  // call into more slots than it has frames, each empty: silence at the cost
  // of endless draws, and no slot count that an int can hold.
  if (!(rate * SR >= 1.0f)) {
    die(kName, "A grain rate of %f seconds per grain is shorter than one frame.", double(rate));
    return -1;
  }
  // A negative tightness makes every size 1 or more: each attempt lands
  // beyond the wider bound and the draw could never end.
  const struct {
    const char* what;
    const double* range;
  } ranges[] = {{"position", locRange}, {"duration", durRange}, {"placement", panRange}, {"frequency", freqRange}};
  for (const auto& r : ranges) {
    if (r.range[3] < 0.0) {
      die(kName, "The grain %s tightness %f is negative: no draw could ever end.", r.what, r.range[3]);
      return -1;
    }
  }

  srrand(unsigned(truncSaturating(p[21])));
  return noteFrames;
}

void FLURRYR::controlStep() {
  if (--ctrlCountdown < 0) {
    aamp = ampCurve ? float(tablei(frameCursor, ampCurve, ampTabs) * amp) : amp;
    ctrlCountdown = ctrlPeriod;
  }
}

void FLURRYR::writeFrame(float s) {
  float out[2] = {s, 0.0f};
  if (outChanCount == 2) {
    out[0] = s * grainPan;
    out[1] = float(double(s) * (1.0 - double(grainPan)));
  }
  rtaddout(out);
  ++frameCursor;
}

float FLURRYR::grainSample(int envIndex) {
  const float osc = oscili(aamp, phaseIncr, waveform, waveLen, &phase);
  if (!grainEnv) return osc;
  return float(double(osc) * tablei(envIndex, grainEnv, grainEnvTabs));
}

// A grain cut at the end of a call's last slot has sounded envelope indices
// 1 ... S - 1 of its slot of S frames. It goes on at the very start of the
// next call: carryIndex = S is the next envelope index to read and
// grainFrames its drawn length G, the index at which it ends, so the
// envelope runs on without a break, with the grain's frequency, placement
// and stretch unchanged; the whole grain sounds G - 1 frames, as an uncut
// one does. The continuation takes at most the whole call (room): a grain
// longer than what is left of it fills the call, stays pending and goes on
// in the next. Returns the frames written.
int FLURRYR::continueGrain(int room) {
  const int frames = std::max(0, std::min(grainFrames - carryIndex, room));
  for (int k = 0; k < frames; ++k) {
    controlStep();
    writeFrame(grainSample(carryIndex++));
  }
  if (carryIndex >= grainFrames) inGrain = 0;
  return frames;
}

int FLURRYR::run() {
  const int n = chunkFrames;
  const float framesPerGrain = rate * SR;
  const float grainsInCall = float(n) / framesPerGrain;
  // init keeps framesPerGrain at 1 or more, so this never exceeds n.
  int grains = int(grainsInCall);
  if (grains <= 0) {
    if (inGrain) {
      grains = 1;
    } else if (double(grainsInCall) > rrand() * 0.5 + 0.5) {
      grains = 1;
    } else {
      const float silence[2] = {0.0f, 0.0f};
      for (int i = 0; i < n; ++i) {
        rtaddout(silence);
        ++frameCursor;
      }
      return std::max(n, 0);
    }
  }

  // Slots share what the continuation leaves, so a call never writes more
  // than n frames: carried + grains x slot <= n.
  const int carried = inGrain ? continueGrain(n) : 0;
  if (carried >= n) return 0;  // the pending grain filled the call
  const int slot = (n - carried) / grains;

  int total = 0;
  for (int g = 0; g < grains; ++g) {
    grainFreq = float(prob(freqRange[0], freqRange[1], freqRange[2], freqRange[3]));
    phaseIncr = float(waveLen) * grainFreq / SR;
    grainDur = float(prob(durRange[0], durRange[1], durRange[2], durRange[3]));
    const int drawnFrames = framesOf(grainDur * SR);
    grainFrames = drawnFrames;
    const bool cut = grainFrames > slot;
    if (cut) grainFrames = slot;
    grainLoc = float(prob(locRange[0], locRange[1], locRange[2], locRange[3]));
    // Offsets outside [-(slot + 1), slot + 1] place the grain wholly outside
    // the slot, as the clamped value does; NaN places it outside too.
    const float shift = float(slot - grainFrames) * grainLoc;
    const float reach = float(slot + 1);
    const int offset = std::isnan(shift) ? slot + 1 : int(std::clamp(shift, -reach, reach));
    grainPan = float(prob(panRange[0], panRange[1], panRange[2], panRange[3]));
    tableset(SR, grainDur, grainEnvLen, grainEnvTabs);
    if (slot > 0) {
      for (int i = 0; i < slot; ++i) {
        controlStep();
        const bool sounding = offset < i && i < offset + grainFrames;
        writeFrame(sounding ? grainSample(i - offset) : 0.0f);
      }
      total += slot;
    }
    // Only a grain cut in the call's last slot goes on, in the next call. One
    // cut in an earlier slot ends with its slot: the slots after it have
    // already shared out the rest of the call.
    if (cut && g == grains - 1) {
      inGrain = 1;
      carryIndex = slot;
      grainFrames = drawnFrames;
    }
  }
  return total;
}

VEMORA_EXPORT Instrument* makeFLURRYR() {
  FLURRYR* inst = new FLURRYR();
  inst->set_bus_config("FLURRYR");
  return inst;
}

extern "C" VEMORA_EXPORT void rtprofile() {
  static rt_item this_rt = {nullptr, makeFLURRYR, "FLURRYR"};
  if (addrtInst(&this_rt) == -1) merror("FLURRYR");
}

VEMORA_PLUGIN_ABOUT("instrument", "Real-time granular synthesis: a stream of short wavetable grains");
