// twirl: shifts the pitch of the input without changing its duration, like a
// rotating pair of playback heads (a legacy note function).
//
// Two heads sweep through the input at the transposition ratio; each jumps
// back by W x (ratio - 1) frames once per window period W and is faded by the
// window envelope (table 2, one period, read without interpolation) so that
// the jump is not heard. Head B runs half a period behind head A.
//
// p0 output start (s)   p1 input start (s)   p2 duration (s)   p3 amplitude
// p4 shift where table 3 is 0, p5 shift where it is 1 (octave.pitch-class
// intervals: 0.05 = five semitones up, -1.02 = fourteen down; the glide is
// linear in semitones)   p6 window length (s), at least one frame
// p7 input channel (truncated)   p8 share of output channel 0 when the
// output has two or more channels.
// Tables: 1 phrase curve (optional), 2 window envelope, 3 pitch shift
// envelope; 1 and 3 are stretched over the note.
// Shift and amplitude are refreshed at frames 0, N, 2N, ... of the note, with
// N = trunc(SR / resetval) (every frame when that is 0).

#include <cmath>

#include "Instrument.h"
#include "legacy_note.h"
#include "pfield_int.h"
#include "wavekit.h"

namespace {

constexpr const char* kName = "twirl";
constexpr int kInput = 0;
constexpr int kOutput = 1;
// Frames pass through fixed arrays: the engine renders at most 64 channels.
constexpr int kMaxFrameChannels = 64;

// An octave.pitch-class interval in semitones.
float semitones(float interval) {
  const float octaves = std::trunc(interval);
  return 12.0f * octaves + 100.0f * (interval - octaves);
}

double twirl(float* p, int, double*) {
  // A placement the engine refused has been reported by it already.
  if (getsetnote(p[1], p[2], kInput) < 0) return 0.0;
  const int frames = setnote(p[0], p[2], kOutput);
  if (frames < 0) return 0.0;

  double* phrase = floc(1);
  float phraseTabs[2] = {0.0f, 0.0f};
  if (phrase)
    tableset(SR(), p[2], fsize(1), phraseTabs);
  else
    vemora_advise(kName, "Setting phrase curve to all 1's.");

  const double* window = floc(2);
  const int windowSize = fsize(2);
  if (!window || windowSize < 1) return die(kName, "You haven't made the window envelope (table 2).");

  double* glide = floc(3);
  if (!glide) return die(kName, "You haven't made the pitch shift envelope (table 3).");
  float glideTabs[2];
  tableset(SR(), p[2], fsize(3), glideTabs);

  const float startShift = semitones(p[4]);
  const float shiftRange = semitones(p[5]) - startShift;
  // The phases are reduced modulo the window: it needs at least one frame.
  const float windowFrames = p[6] * SR();
  if (!(windowFrames >= 1.0f)) return die(kName, "The window (p6) must be at least one frame long.");
  const int period = truncSaturating(windowFrames);
  const int halfPeriod = period / 2;
  // A control rate above the sampling rate refreshes every frame.
  const float ctrlFrames = SR() / float(resetval);
  const int ctrlPeriod = ctrlFrames >= 1.0f ? truncSaturating(ctrlFrames) : 1;

  const int inChannels = sfdesc[kInput];
  const int outChannels = sfdesc[kOutput];
  if (inChannels > kMaxFrameChannels || outChannels > kMaxFrameChannels)
    return die(kName, "The input and the output may have at most %d channels each.", kMaxFrameChannels);
  if (!(p[7] > -1.0f && p[7] < float(inChannels)))
    return die(kName, "You asked for channel %d of a %d-channel file.", truncSaturating(std::trunc(p[7])), inChannels);
  const int channel = int(p[7]);

  const float amplitude = p[3];
  const float pctLeft = p[8];
  const float windowScale = float(windowSize);
  const float periodScale = float(period);
  // Entry of the window envelope for a head phase; the last entry at most,
  // should the single-precision quotient round up to a whole period.
  auto windowAt = [&](int phase) {
    const int index = int(float(phase) / periodScale * windowScale);
    return float(window[index < windowSize ? index : windowSize - 1]);
  };

  float inFrame[kMaxFrameChannels];
  float outFrame[kMaxFrameChannels] = {};
  int phaseA = 1;
  int phaseB = halfPeriod;
  float increment = 0.0f;
  float amp = 0.0f;
  int ctrlCountdown = 0;
  for (int i = 0; i < frames; ++i) {
    if (ctrlCountdown == 0) {
      ctrlCountdown = ctrlPeriod - 1;
      const float shift = float(tablei(i, glide, glideTabs) * shiftRange + startShift);
      increment = float(std::pow(2.0, double(shift) / 12.0) - 1.0);
      amp = phrase ? float(tablei(i, phrase, phraseTabs) * amplitude) : amplitude;
    } else {
      --ctrlCountdown;
    }

    phaseA %= period;
    const float positionA = float(phaseA) * increment + float(i);
    phaseB = (phaseB + 1) % period;
    if (getsample(positionA, inFrame, kInput) == 0) break;
    const float sampleA = inFrame[channel];
    const float windowA = windowAt(phaseA);

    const float positionB = float(phaseB - halfPeriod) * increment + float(i);
    if (getsample(positionB, inFrame, kInput) == 0) break;
    const float sampleB = inFrame[channel];
    const float windowB = windowAt(phaseB);

    const float out = (windowA * sampleA + windowB * sampleB) * amp;
    if (outChannels >= 2) {
      outFrame[1] = float(out * (1.0 - double(pctLeft)));
      outFrame[0] = out * pctLeft;
    } else {
      outFrame[0] = out;
    }
    addoutpointer[kOutput](outFrame, kOutput);
    ++phaseA;
  }
  endnote(kOutput);
  return 0.0;
}

}  // namespace

extern "C" VEMORA_EXPORT int profile() {
  addLegacyfunc("twirl", twirl);
  return 0;
}

VEMORA_PLUGIN_ABOUT("legacy note", "Shifts the pitch of the input without changing its length (rotating heads)");
