// scoremath: functions that a score calls while it is read, to compute
// pfield values: sin and cos, four random distributions on 0 ... 1 drawn
// from drand48 (which this library never seeds), a bounded random draw, a
// clamp and a linear range map.
//
//   sin(x), cos(x)           x in radians
//   lowrand(), highrand()    the smaller / larger of two uniform draws
//   trirand()                the mean of two uniform draws
//   gaussrand()              normal, mean 0.5, deviation 0.1, within [0, 1]
//   prob(value, tightness)   a draw in [0, 1] around value: tightness 1 or
//                            more gives value itself, 0 or less gives 0
//   prob(low, mid, high, tightness)   a draw in [low, high] around mid
//   constrain(value, a, b)   value clamped into the interval a ... b
//   map(value, low, high)    value in 0 ... 1 onto low ... high
//   map(value, inLow, inHigh, outLow, outHigh)
//
// A call with fewer arguments than its function reads is refused with the
// function's name; the score gets 0.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "Instrument.h"
#include "bounded_draw.h"
#include "legacy_note.h"

namespace {

// Refuses a call that gave fewer arguments than the function reads; die
// names the function (and the engine the score line).
bool missingArguments(const char* name, int n, int wanted, const char* usage) {
  if (n >= wanted) return false;
  die(name, "%s takes %s; this call gave %d.", name, usage, n);
  return true;
}

// Two drand48 values: the first above 0.5 draws upward, the second is the
// size base as it is.
DrawPick drand48Pick() {
  const double signDraw = drand48();
  const double sizeDraw = drand48();
  return {signDraw > 0.5, sizeDraw};
}

// Draws v = size x width x sign + mid, size = base^exponent, until v lies in
// [low, high]; a draw whose range rounding (or a mid far outside it) leaves
// out of reach settles on mid, brought into the range. Both callers keep
// low <= high.
double drawAround(double low, double mid, double high, double width, double exponent) {
  return boundedDraw(low, mid, high, width, exponent, DrawFallback::MidClamped, drand48Pick);
}

double m_sin(float*, int n, double* pp) {
  if (missingArguments("sin", n, 1, "an angle in radians")) return 0.0;
  return std::sin(pp[0]);
}

double m_cos(float*, int n, double* pp) {
  if (missingArguments("cos", n, 1, "an angle in radians")) return 0.0;
  return std::cos(pp[0]);
}

double m_lowrand(float*, int, double*) {
  const double u1 = drand48();
  const double u2 = drand48();
  return std::min(u1, u2);
}

double m_highrand(float*, int, double*) {
  const double u1 = drand48();
  const double u2 = drand48();
  return std::max(u1, u2);
}

double m_trirand(float*, int, double*) {
  const double u1 = drand48();
  const double u2 = drand48();
  return (u1 + u2) * 0.5;
}

// Polar method; only the y output is used, cut at five deviations.
double m_gaussrand(float*, int, double*) {
  for (;;) {
    const double x = 2.0 * drand48() - 1.0;
    const double y = 2.0 * drand48() - 1.0;
    const double s = x * x + y * y;
    if (s > 1.0 || s == 0.0) continue;
    const double g = std::sqrt(-2.0 * std::log(s) / s) * y;
    if (g < -5.0 || g > 5.0) continue;
    return g * 0.1 + 0.5;
  }
}

// The mid values are read from the single-precision copy of the arguments.
double m_prob(float* p, int n, double* pp) {
  if (n == 4) {
    const double low = pp[0];
    const double mid = double(p[1]);
    const double high = pp[2];
    const double tight = pp[3];
    // Either would make every attempt fail: no value lies in the range, or
    // every size is 1 or more and lands beyond the wider bound.
    if (low > high) {
      die("prob", "prob's low %g is above its high %g: there is nothing to draw.", low, high);
      return 0.0;
    }
    if (tight < 0.0) {
      die("prob", "prob's tightness %g is negative: the draw could never end.", tight);
      return 0.0;
    }
    return drawAround(low, mid, high, std::max(high - mid, mid - low), tight);
  }
  if (missingArguments("prob", n, 2, "2 arguments (value, tightness) or 4 (low, mid, high, tightness)")) return 0.0;
  const double mid = double(p[0]);
  const double t = pp[1];
  if (t >= 1.0) return pp[0];
  if (t <= 0.0) return 0.0;
  // t is then the chance that one attempt lands within half the width of mid.
  const double exponent = std::log(0.5) / std::log(t);
  const double width = mid > 0.5 ? mid : 1.0 - mid;
  return drawAround(0.0, mid, 1.0, width, exponent);
}

double m_constrain(float*, int n, double* pp) {
  if (missingArguments("constrain", n, 3, "3 arguments (value, bound, bound)")) return 0.0;
  return std::min(std::max(pp[1], pp[2]), std::max(std::min(pp[1], pp[2]), pp[0]));
}

double m_map(float*, int n, double* pp) {
  if (n < 3 || n == 4) {
    die("map",
        "map takes 3 arguments (value, low, high) or 5 (value, inLow, inHigh, outLow, outHigh); "
        "this call gave %d.",
        n);
    return 0.0;
  }
  if (n < 4) return (pp[2] - pp[1]) * pp[0] + pp[1];
  return (pp[0] - pp[1]) / (pp[2] - pp[1]) * (pp[4] - pp[3]) + pp[3];
}

}  // namespace

extern "C" VEMORA_EXPORT int profile() {
  addLegacyfunc("sin", m_sin);
  addLegacyfunc("cos", m_cos);
  addLegacyfunc("lowrand", m_lowrand);
  addLegacyfunc("highrand", m_highrand);
  addLegacyfunc("trirand", m_trirand);
  addLegacyfunc("gaussrand", m_gaussrand);
  addLegacyfunc("prob", m_prob);
  addLegacyfunc("constrain", m_constrain);
  addLegacyfunc("map", m_map);
  return 0;
}

VEMORA_PLUGIN_ABOUT("score functions", "Math for scores: sin, cos, random distributions, prob, constrain, map");
