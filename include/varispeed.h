// The varispeed reader: one channel of an interleaved input played at a
// speed that may change every frame, read through the quadratic over the
// three newest input samples. (What the two glides that play through it
// share around it is in varispeed_glide.h.)
//
// The read position moves on by increment each frame; input is taken until
// the newest sample lies within half a sample of it, so the output runs two
// input frames late at a ratio of 1. Everything that shapes the sound around
// the reader (gains, fades, when the speed is looked up) stays with the
// instrument; the reader holds only what the reading itself needs.
#pragma once

#include <cstdint>

#include "pitchconv.h"

struct VarispeedReader {
  // Above 16 octaves up the read loop would take 65536 input samples for
  // every output frame; an infinite octave value would never let it end.
  // Such values, and values that are not numbers, play at 16 octaves up.
  static constexpr double kMaxOctaves = 16.0;

  // One more than the input samples taken so far. 64 bits, so that a long
  // note at a high ratio cannot run the count past the int range.
  int64_t inCount = 1;
  // The next frame of the current input block to take; a value of the block
  // size or more fetches a new block first.
  int inFrame = 0;
  int getFlag = 1;
  double increment = 0.0;
  double readPos = 0.0;
  float newestSamp = 0.0f;
  float middleSamp = 0.0f;
  float oldestSamp = 0.0f;

  // The speed reference, held in single precision as the glides always have:
  // an octave value of 0 gives a ratio a hair below 1 (0.99999994).
  static float reference() { return float(cpsoct(10.0)); }

  // Takes input samples of channel from block (blockFrames frames of
  // channels samples each) until the newest lies within half a sample of the
  // read position; fetch refills block when it is used up. A high ratio may
  // take several blocks for one output frame.
  template <typename Fetch>
  void take(const float* block, int blockFrames, int channels, int channel, Fetch&& fetch) {
    if (!getFlag) return;
    do {
      if (inFrame >= blockFrames) {
        fetch();
        inFrame = 0;
      }
      oldestSamp = middleSamp;
      middleSamp = newestSamp;
      newestSamp = block[inFrame * channels + channel];
      ++inFrame;
      ++inCount;
      if (readPos - double(inCount) < 0.5) getFlag = 0;
    } while (getFlag);
  }

  // The quadratic through (0, oldest), (1, middle), (2, newest) at the read
  // position, in single precision.
  float value() const {
    const float x = float(readPos - double(inCount) + 2.0);
    const float y0 = oldestSamp;
    const float y1 = middleSamp;
    const float y2 = newestSamp;
    return y0 + x * (2.0f * y1 - 1.5f * y0 - 0.5f * y2) + x * x * (0.5f * y0 - y1 + 0.5f * y2);
  }

  // Sets the speed to a transposition in linear octaves (1.0 = an octave up)
  // against ref, from reference().
  void setOctaves(double octaves, float ref) {
    if (!(octaves <= kMaxOctaves)) octaves = kMaxOctaves;
    increment = cpsoct(octaves + 10.0) / double(ref);
  }

  // Moves the read position on by one output frame.
  void advance() {
    readPos += increment;
    if (readPos - double(inCount) >= -0.5) getFlag = 1;
  }
};
