#include "FAUXGLIDE.h"

#include "wavekit.h"

namespace {

// Frames of input over which each block fades in and out.
constexpr int kFadeFrames = 100;

// Gain for a read head that has just taken frame index - 1 of a block of
// blockFrames: 0 at either edge, a ramp of 0.01 per frame over the first and
// last 100 frames, 1 between. The closing ramp wins in blocks under 200.
float blockFade(int index, int blockFrames) {
  if (index == blockFrames) return 0.0f;
  if (index >= blockFrames - kFadeFrames) return float(blockFrames - index) * 0.01f;
  if (index >= kFadeFrames) return 1.0f;
  if (index >= 1) return float(index) * 0.01f;
  return 0.0f;
}

}  // namespace

int FAUXGLIDE::init(double p[], int n_args) {
  const int frames = VarispeedGlide::init(p, n_args);
  if (!ampCurve) aamp = amp;  // without an amplitude curve, amp alone
  return frames;
}

int FAUXGLIDE::refuseWithoutPitchCurve(int) { return die("FAUXGLIDE", "Unable to load pitch curve!"); }

int FAUXGLIDE::run() {
  const int frames = chunkFrames;
  if (frames <= 0) return chunkFrames;

  const float ref = VarispeedReader::reference();
  // The pitch countdown is local: each call reads the curve on its first
  // frame. The amplitude countdown is a member and runs over the whole note.
  int pitchBranch = 0;
  const int blockFrames = RTBUFSAMPS;
  const int blockSamples = blockFrames * inChanCount;
  float* out = outBuffer;

  for (int i = 0; i < frames; ++i) {
    if (--ctrlCountdown <= 0) {
      if (ampCurve) aamp = float(table(frameCursor, ampCurve, ampTabs)) * amp;
      ctrlCountdown = ctrlPeriod;
    }

    takeInput(blockFrames, blockSamples);

    const float fade = blockFade(reader.inFrame, blockFrames);

    const float value = reader.value();
    const float s = (aamp * fade) * value;

    writeFrame(out, s);
    ++frameCursor;
    out += outChanCount;

    // frameCursor already names the next frame.
    if (--pitchBranch <= 0) {
      reader.setOctaves(table(frameCursor, pitchCurve, pitchTabs), ref);
      pitchBranch = 20;
    }

    reader.advance();
  }
  return chunkFrames;
}

VEMORA_EXPORT Instrument* makeFAUXGLIDE() {
  FAUXGLIDE* inst = new FAUXGLIDE();
  inst->set_bus_config("FAUXGLIDE");
  return inst;
}

extern "C" VEMORA_EXPORT void rtprofile() {
  static rt_item this_rt = {nullptr, makeFAUXGLIDE, "FAUXGLIDE"};
  if (addrtInst(&this_rt) == -1) merror("FAUXGLIDE");
}

VEMORA_PLUGIN_ABOUT("instrument", "Plays one channel of the input at a changing speed (a variant of SHIFTGLIDE)");
