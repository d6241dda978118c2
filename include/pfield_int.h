// Pfield values turned into ints without undefined behaviour.
//
// A score can hand an instrument any double: NaN, an infinity, or a number
// no int can hold, and a plain int(x) on those is undefined. Each helper
// truncates toward zero like int(x) wherever that is defined, and says what
// it makes of the rest. Which one fits depends on what the int is for: a
// table number or channel wants a value that the following check refuses,
// a frame count wants a value the arithmetic after it cannot overflow.
#pragma once

#include <algorithm>
#include <climits>
#include <cmath>

// Truncated toward zero; values beyond the int range (infinities included)
// held at INT_MIN or INT_MAX; NaN becomes 0.
inline int truncSaturating(double value) {
  if (std::isnan(value)) return 0;
  return int(std::clamp(value, double(INT_MIN), double(INT_MAX)));
}

// As truncSaturating, but NaN becomes INT_MIN: for table numbers and
// channels, where INT_MIN is a value that every check refuses.
inline int truncSaturatingNanLow(double value) {
  if (!(value > double(INT_MIN) - 1.0)) return INT_MIN;
  if (value >= double(INT_MAX) + 1.0) return INT_MAX;
  return int(value);
}

// Truncated toward zero when an int holds the truncation; otherwise (NaN,
// infinities, anything beyond the int range) the value outside, which the
// caller picks so that its own check refuses it.
inline int truncOr(double value, int outside) {
  const double whole = std::trunc(value);
  if (!(whole >= double(INT_MIN) && whole <= double(INT_MAX))) return outside;
  return int(whole);
}

// Truncated toward zero, never below floor: NaN, -infinity and every value
// at or below floor become floor; values from INT_MAX up (and +infinity)
// become INT_MAX. Values between floor and floor + 1 truncate as usual (for
// floor -1, -0.5 gives 0).
inline int truncAtLeast(double value, int floor) {
  if (value >= double(INT_MAX)) return INT_MAX;
  if (!(value > double(floor))) return floor;
  return int(value);
}

// Clamped into [-limit, limit] in the value's own type (float or double),
// then truncated toward zero; NaN becomes 0, infinities the nearer bound.
// For frame counts drawn from pfields that later sums must not overflow:
// limit stays well inside the int range.
template <typename Real>
inline int truncWithin(Real value, Real limit) {
  if (std::isnan(value)) return 0;
  return int(std::clamp(value, -limit, limit));
}
