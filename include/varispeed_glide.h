// What the two glides (SHIFTGLIDE, FAUXGLIDE) do alike around the
// varispeed reader: their pfields, the note's setup at init and the input
// block. Each glide plays its notes its own way (run) and words its own
// refusal of a note without a pitch curve.
#pragma once

#include <cstddef>
#include <new>

#include "Instrument.h"
#include "function_tables.h"
#include "pfield_int.h"
#include "varispeed.h"
#include "wavekit.h"

// The pfields the two glides share: p0 start, p1 input skip, p2 duration (a
// negative one is the end time in the input), p3 amplitude, p4 the pitch
// curve's table, p5 the input channel (0 when not given), p6 the left
// channel's share (0.5). Single precision, as the glides hold them.
struct GlidePFields {
  float start;
  float inskip;
  float dur;
  float amp;
  int pitchSlot;
  int inChannel;
  float pctLeft;

  GlidePFields(const double p[], int n_args)
      : start(float(p[0])),
        inskip(float(p[1])),
        dur(float(p[2])),
        amp(float(p[3])),
        pitchSlot(truncSaturatingNanLow(p[4])),
        inChannel(n_args > 5 ? truncSaturatingNanLow(p[5]) : 0),
        pctLeft(n_args > 6 ? float(p[6]) : 0.5f) {
    if (dur < 0.0f) dur = -dur - inskip;
  }
};

// A glide: one channel of the input played through a VarispeedReader at the
// speed a pitch curve gives, scaled by an optional amplitude curve. The
// glides set up their notes alike and play them each their own way (run).
class VarispeedGlide : public Instrument {
 public:
  ~VarispeedGlide() override { delete[] inBuffer; }

  // Reads GlidePFields (five at least), places the note, opens the input at
  // its skip and checks the channel; finds the pitch curve in slot p4 (the
  // note is refused without one) and the amplitude curve in slot 1 (advised
  // when there is none), both stretched over the note. Returns the note's
  // frames, or -1 when it is refused.
  int init(double p[], int n_args) override;
  // One block of input frames, all channels.
  int configure() override;

 protected:
  explicit VarispeedGlide(const char* name) : name(name) {}
  // Refuses the note: slot p4 holds no table. Returns -1.
  virtual int refuseWithoutPitchCurve(int slot) = 0;

  // Takes the input the reader needs for the next output frame, fetching a
  // block of blockFrames frames (blockSamples samples) when one is used up.
  void takeInput(int blockFrames, int blockSamples) {
    reader.take(inBuffer, blockFrames, inChanCount, inChannel, [&] { rtgetin(inBuffer, this, blockSamples); });
  }
  // Writes sample s to the output frame at out: shared between two
  // channels by pctLeft, or on channel 0 alone.
  void writeFrame(float* out, float s) const {
    if (outChanCount == 2) {
      out[1] = float(double(s) * (1.0 - double(pctLeft)));
      out[0] = s * pctLeft;
    } else {
      out[0] = s;
    }
  }

  const char* name;
  VarispeedReader reader;
  int ctrlPeriod = 0;  // frames between reads of the amplitude curve
  int inChannel = 0;
  float amp = 0.0f;
  float pctLeft = 0.5f;
  float ampTabs[2] = {0.0f, 0.0f};
  float pitchTabs[2] = {0.0f, 0.0f};
  double* ampCurve = nullptr;  // null: no amplitude curve
  double* pitchCurve = nullptr;
  float* inBuffer = nullptr;
};

inline int VarispeedGlide::init(double p[], int n_args) {
  if (n_args < 5) return die(name, "Wrong number of args.");
  const GlidePFields note(p, n_args);
  amp = note.amp;
  inChannel = note.inChannel;
  pctLeft = note.pctLeft;

  if (rtsetoutput(note.start, note.dur, this) == -1) return -1;
  if (rtsetinput(note.inskip, this) == -1) return -1;
  // A negative channel would read before each frame of inBuffer.
  if (inChannel >= inChanCount || inChannel < 0)
    return die(name, "You asked for channel %d of a %d-channel file.", inChannel, inChanCount);

  pitchCurve = floc(note.pitchSlot);
  if (!pitchCurve) return refuseWithoutPitchCurve(note.pitchSlot);
  tableset(SR, note.dur, fsize(note.pitchSlot), pitchTabs);

  reader.inFrame = RTBUFSAMPS;  // used up: the first sample taken fetches a block

  ampCurve = floc(1);
  if (ampCurve)
    tableset(SR, note.dur, fsize(1), ampTabs);
  else
    vemora_advise(name, "Setting phrase curve to all 1's.");

  ctrlPeriod = int(SR / float(resetval));
  return noteFrames;
}

inline int VarispeedGlide::configure() {
  inBuffer = new (std::nothrow) float[size_t(inChanCount) * size_t(RTBUFSAMPS)];
  return inBuffer ? 0 : -1;
}
