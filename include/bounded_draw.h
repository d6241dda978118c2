// The bounded random draw: a value around mid, redrawn until it lies in
// [low, high].
//
// Each attempt takes a sign and a size base from the caller's pick, in that
// order, and makes v = base^exponent x width x sign + mid. The pick carries
// what differs between instruments: the generator (wavekit's rrand or the C
// library's drand48), how a draw becomes a sign and how it becomes a base.
// The arithmetic is the same for all, in double, in this order.
#pragma once

#include <algorithm>
#include <cmath>

#include "wavekit.h"

// Rounding can leave a range out of the draw's reach (with exponent 0 every
// attempt lands a full width from mid, and mid - width may fall a hair below
// low), and the draw would retry for ever. After this many failed attempts
// in a row it settles on its fallback. A range that takes even one attempt
// in a thousand gets there with a probability below 1e-28, so every range
// that can be drawn draws as if there were no limit.
inline constexpr int kBoundedDrawAttempts = 1 << 16;

// What a draw that never lands settles on.
enum class DrawFallback {
  Mid,                    // mid as it is, even outside the range
  MidClampedWhenOrdered,  // mid brought into [low, high] when low <= high, else mid
  MidClamped,             // mid brought into [low, high]; the caller keeps low <= high
};

// One attempt's raw material: the sign (up: +1, else -1) and the base that
// the exponent shapes into the size.
struct DrawPick {
  bool up;
  double base;
};

// The wider of the two half-ranges around mid: the width that lets a draw
// reach both bounds.
inline double drawHalfWidth(double low, double mid, double high) { return std::max(high - mid, mid - low); }

// Two rrand values: the first gives the sign (positive in single precision:
// up), the second the base, mapped from [-1, 1) onto [0, 1).
inline DrawPick rrandPick() {
  const double signDraw = rrand();
  const double sizeDraw = rrand();
  return {float(signDraw) > 0.0f, (sizeDraw + 1.0) * 0.5};
}

template <typename Pick>
inline double boundedDraw(double low, double mid, double high, double width, double exponent, DrawFallback fallback,
                          Pick&& pick) {
  constexpr double kSigns[2] = {-1.0, 1.0};
  for (int attempt = 0; attempt < kBoundedDrawAttempts; ++attempt) {
    const DrawPick drawn = pick();
    const double size = std::pow(drawn.base, exponent);
    const double v = size * width * kSigns[drawn.up] + mid;
    if (!(v < low || v > high)) return v;
  }
  switch (fallback) {
    case DrawFallback::MidClampedWhenOrdered:
      return low <= high ? std::clamp(mid, low, high) : mid;
    case DrawFallback::MidClamped:
      return std::clamp(mid, low, high);
    case DrawFallback::Mid:
      break;
  }
  return mid;
}
