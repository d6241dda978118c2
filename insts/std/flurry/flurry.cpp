#include "flurry.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "bounded_draw.h"
#include "legacy_note.h"
#include "pfield_int.h"
#include "wavekit.h"

namespace {

constexpr const char* kName = "flurry";
constexpr int kOutput = 1;

// Frame counts drawn from pfields stay far inside the int range, so that
// gaps, shifts and lengths can be added without overflow.
constexpr double kFrameLimit = double(1 << 29);

int framesOf(double x) { return truncWithin(x, kFrameLimit); }

unsigned seedOf(float p) {
  if (!(p > 0.0f)) return 0;
  return unsigned(std::min(p, 4294967040.0f));  // the largest float below 2^32
}

// prob is exported and may be called with any range: a draw that never
// lands settles on mid, brought into [low, high] when that is a range.
double draw(double low, double mid, double high, double tight) {
  return boundedDraw(low, mid, high, drawHalfWidth(low, mid, high), tight, DrawFallback::MidClampedWhenOrdered,
                     rrandPick);
}

struct Range {
  double low, mid, high, tight;
};

// The sets a (control value 0) and b (control value 1) at control value t;
// differences in single precision, the rest in double.
Range between(const float* a, const float* b, double t) {
  return {a[0] + t * (b[0] - a[0]), a[1] + t * (b[1] - a[1]), a[2] + t * (b[2] - a[2]), a[3] + t * (b[3] - a[3])};
}

// The start offset's sets move with the note's elapsed frames instead.
Range alongNote(const float* a, const float* b, int64_t pos, int ns) {
  const double position = double(pos);
  const double frames = double(ns);
  return {a[0] + position * (b[0] - a[0]) / frames, a[1] + position * (b[1] - a[1]) / frames,
          a[2] + position * (b[2] - a[2]) / frames, a[3] + position * (b[3] - a[3]) / frames};
}

// The bounds widen to take in the mid, which never moves; a negative
// tightness counts as 0.
double drawIn(const Range& r) {
  return draw(std::min(r.mid, r.low), r.mid, std::max(r.mid, r.high), std::max(0.0, r.tight));
}

struct Curve {
  double* values = nullptr;
  float tabs[2] = {0.0f, 0.0f};
  double at(int64_t frame) { return tablei(long(frame), values, tabs); }
};

double flurry(float* p, int, double*) {
  srrand(seedOf(p[37]));
  const int ns = setnote(p[0], p[1], kOutput);
  const float sr = SR();

  Curve phrase;
  phrase.values = floc(1);
  if (phrase.values)
    tableset(sr, p[1], fsize(1), phrase.tabs);
  else
    vemora_advise(kName, "Setting phrase curve to all 1's.");
  double* waveform = floc(6);
  if (!waveform) {
    die(kName, "You haven't made the oscillator waveform (table 6).");
    return 0.0;
  }
  const int waveLen = fsize(6);
  Curve envelope;
  envelope.values = floc(8);
  if (!envelope.values) {
    die(kName, "You haven't made the grain envelope (table 8).");
    return 0.0;
  }
  const int envelopeLen = fsize(8);
  const int s3 = framesOf(p[3] * sr);
  const int s4 = framesOf(p[4] * sr);
  const int s14 = framesOf(p[14] * sr);

  Curve density, duration, location, frequency;
  const struct {
    int slot;
    Curve& curve;
    const char* message;
  } functions[] = {
      {2, density, "You haven't made the grain density function (table 2)."},
      {3, duration, "You haven't made the grain duration function (table 3)."},
      {4, location, "You haven't made the grain location function (table 4)."},
      {5, frequency, "You haven't made the grain frequency function (table 5)."},
  };
  for (const auto& f : functions) {
    f.curve.values = floc(f.slot);
    if (!f.curve.values) {
      die(kName, "%s", f.message);
      return 0.0;
    }
    tableset(sr, p[1] - p[4], fsize(f.slot), f.curve.tabs);
  }

  if (ns <= 0) {
    std::printf("\n%ld grains\n", 0L);
    endnote(kOutput);
    return 0.0;
  }

  const bool noise = p[29] < 0.0f;
  const int channels = sfdesc[kOutput];
  // Channels past the first two stay silent.
  std::vector<float> frame(size_t(std::max(channels, 1)), 0.0f);
  int64_t gpos = 0;
  int glen = s14;
  int gap = s3 - s14;
  int shift = 0;
  float loc = p[21];
  float phase = 0.0f;
  float increment = 0.0f;
  float gain = 0.0f;
  int countdown = 0;
  long grains = 0;
  for (;;) {
    phase = 0.0f;
    tableset(sr, float(glen) / sr, envelopeLen, envelope.tabs);
    ++grains;
    if (!noise) increment = float(drawIn(between(p + 29, p + 33, frequency.at(gpos)))) * float(waveLen) / sr;

    for (int i = 0; i < glen; ++i) {
      // The gain is recomputed on frames 0, 2, 4 ... of the grain and held
      // for the frame after; the countdown ends every grain at 0.
      if (countdown == 0) {
        const int rem = glen - i;
        countdown = rem > 2 ? 1 : rem - 1;
        const double phraseValue = phrase.values ? phrase.at(gpos) : 1.0;
        gain = float(envelope.at(i) * p[2] * phraseValue);
      } else {
        --countdown;
      }
      const float sample = noise ? float(rrand()) * gain : oscili(gain, increment, waveform, waveLen, &phase);
      frame[0] = sample;
      if (channels >= 2) {
        frame[1] = float(double(sample) * (1.0 - double(loc)));
        frame[0] = sample * loc;
      }
      addoutpointer[kOutput](frame.data(), kOutput);
    }

    // The shift is dropped when it would take the next grain before the
    // note's start; the gap alone is applied.
    const int64_t withGap = int64_t(glen) + gap;
    const int64_t withShift = withGap + shift;
    int64_t pos;
    if (withShift + gpos >= 0) {
      outrepos(gap + shift, kOutput);
      pos = gpos + withShift;
    } else {
      outrepos(gap, kOutput);
      pos = gpos + withGap;
    }

    const int newLen = framesOf(drawIn(between(p + 13, p + 17, duration.at(pos))) * double(sr));
    const double offset = drawIn(alongNote(p + 5, p + 9, pos, ns));
    const float t2 = float(density.at(pos));
    const double place = drawIn(between(p + 21, p + 25, location.at(pos)));
    const double nextShift = double(gap + newLen) * offset;
    const float nextGap = t2 * float(s4 - s3) + float(s3) - float(newLen);

    // Table positions run one frame ahead of the output per grain. A start
    // offset of -1 or below, or a period of 0 or less, can keep the position
    // from ever reaching the note's end, so a note holds at most one grain
    // per frame.
    ++pos;
    if (pos >= ns || grains >= ns) break;
    loc = float(place);
    shift = framesOf(nextShift);
    gap = framesOf(nextGap);
    gpos = pos;
    glen = newLen;
  }
  std::printf("\n%ld grains\n", grains);
  endnote(kOutput);
  return 0.0;
}

}  // namespace

extern "C" VEMORA_EXPORT double prob(double low, double mid, double high, double tight) {
  return draw(low, mid, high, tight);
}

extern "C" VEMORA_EXPORT int profile() {
  addLegacyfunc("flurry", flurry);
  return 0;
}

VEMORA_PLUGIN_ABOUT("legacy note", "Granular synthesis as a legacy note: one call writes a whole note of grains");
