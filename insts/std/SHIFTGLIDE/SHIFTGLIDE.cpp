#include "SHIFTGLIDE.h"

#include <new>

#include "wavekit.h"

SHIFTGLIDE::SHIFTGLIDE() : ampCurve(nullptr), pitchCurve(nullptr), inBuffer(nullptr) {}

SHIFTGLIDE::~SHIFTGLIDE() { delete[] inBuffer; }

int SHIFTGLIDE::init(double p[], int n_args) {
  if (n_args < 5) {
    die("SHIFTGLIDE", "Wrong number of args.");
    return -1;
  }
  const GlidePFields note(p, n_args);
  amp = note.amp;
  inChannel = note.inChannel;
  pctLeft = note.pctLeft;
  const int pitchSlot = note.pitchSlot;
  const float dur = note.dur;

  if (rtsetoutput(note.start, dur, this) == -1) return -1;
  if (rtsetinput(note.inskip, this) == -1) return -1;
  // A negative channel would read before each frame of inBuffer.
  if (inChannel >= inChanCount || inChannel < 0)
    return die("SHIFTGLIDE", "You asked for channel %d of a %d-channel file.", inChannel, inChanCount);

  pitchCurve = floc(pitchSlot);
  if (!pitchCurve) {
    die("SHIFTGLIDE", "Unable to load pitch curve (table %d)!", pitchSlot);
    return -1;
  }
  tableset(SR, dur, fsize(pitchSlot), pitchTabs);

  reader.inFrame = RTBUFSAMPS;  // used up: the first sample taken fetches a block

  ampCurve = floc(1);
  if (ampCurve)
    tableset(SR, dur, fsize(1), ampTabs);
  else
    vemora_advise("SHIFTGLIDE", "Setting phrase curve to all 1's.");

  ctrlPeriod = int(SR / float(resetval));
  return noteFrames;
}

int SHIFTGLIDE::configure() {
  inBuffer = new (std::nothrow) float[size_t(inChanCount) * size_t(RTBUFSAMPS)];
  return inBuffer ? 0 : -1;
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

    reader.take(inBuffer, blockFrames, inChanCount, inChannel, [&] { rtgetin(inBuffer, this, blockSamples); });

    float s = reader.value();
    s *= aamp;

    if (outChanCount == 2) {
      out[1] = float(double(s) * (1.0 - double(pctLeft)));
      out[0] = s * pctLeft;
    } else {
      out[0] = s;
    }
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
