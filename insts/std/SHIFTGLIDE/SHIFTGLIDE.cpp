#include "SHIFTGLIDE.h"

#include "wavekit.h"

int SHIFTGLIDE::refuseWithoutPitchCurve(int slot) {
  return die("SHIFTGLIDE", "Unable to load pitch curve (table %d)!", slot);
}

int SHIFTGLIDE::run() {
  const int frames = chunkFrames;
  if (frames <= 0) return 0;

  const float ref = VarispeedReader::reference();
  float aamp = amp;
  // Both countdowns are local: each call reads both curves on its first frame.
  int ctrlCountdown = 0;
  int pitchBranch = 0;
  const int blockFrames = RTBUFSAMPS;
  const int blockSamples = blockFrames * inChanCount;
  float* out = outBuffer;

  for (int i = 0; i < frames; ++i) {
    if (--ctrlCountdown < 0) {
      if (ampCurve) aamp = float(table(frameCursor, ampCurve, ampTabs)) * amp;
      ctrlCountdown = ctrlPeriod;
    }

    takeInput(blockFrames, blockSamples);

    float s = reader.value();
    s *= aamp;

    writeFrame(out, s);
    ++frameCursor;
    out += outChanCount;

    // frameCursor already names the next frame.
    if (--pitchBranch < 0) {
      reader.setOctaves(table(frameCursor, pitchCurve, pitchTabs), ref);
      pitchBranch = 20;
    }

    reader.advance();
  }
  return frames;
}

VEMORA_EXPORT Instrument* makeSHIFTGLIDE() {
  SHIFTGLIDE* inst = new SHIFTGLIDE();
  inst->set_bus_config("SHIFTGLIDE");
  return inst;
}

extern "C" VEMORA_EXPORT void rtprofile() {
  static rt_item this_rt = {nullptr, makeSHIFTGLIDE, "SHIFTGLIDE"};
  if (addrtInst(&this_rt) == -1) merror("SHIFTGLIDE");
}

VEMORA_PLUGIN_ABOUT("instrument", "Plays one channel of the input at a changing speed along a pitch curve");
