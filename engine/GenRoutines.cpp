// The table-making routines. Each routine checks all of its arguments before
// it allocates, so a refused request for a huge table costs nothing.
#include "GenRoutines.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <sstream>

namespace vemora {

namespace {

constexpr double kTwoPi = 6.283185307179586476925286766559;

// Numbers in messages as the score wrote them: 0.5, 7, 1e+12.
std::string num(double x) {
  std::ostringstream text;
  text.precision(15);
  text << x;
  return text.str();
}

struct Gen {
  Gen(int number, long long size, const std::vector<double>& args) : number(number), size(size), args(args) {}

  [[noreturn]] void refuse(const std::string& why) const {
    throw GenError("gen " + std::to_string(number) + ": " + why);
  }

  std::vector<double> zeros() const {
    try {
      return std::vector<double>(static_cast<std::size_t>(size), 0.0);
    } catch (const std::bad_alloc&) {
      refuse("not enough memory for a table of " + std::to_string(size) + " entries");
    }
  }

  int number;
  long long size;
  const std::vector<double>& args;
};

enum class Shape { Line, Exponential };

// Fills the table from breakpoints whose positions (in entries) rise from 0
// to size - 1. Each entry i takes the segment with x[j] <= i < x[j + 1]; the
// last entry takes the last value, so a table of one entry holds it too.
// Segments of zero width are steps: the entry on them takes the later value.
void fillSegments(std::vector<double>& out, const std::vector<double>& x, const std::vector<double>& y, Shape shape) {
  const std::size_t lastPoint = x.size() - 1;
  const long long n = static_cast<long long>(out.size());
  std::size_t j = 0;
  for (long long i = 0; i + 1 < n; ++i) {
    const double at = static_cast<double>(i);
    while (j + 1 < lastPoint && at >= x[j + 1]) ++j;
    const double t = (at - x[j]) / (x[j + 1] - x[j]);
    // Written so that t = 0 gives y[j] exactly.
    out[i] = shape == Shape::Line ? y[j] * (1.0 - t) + y[j + 1] * t : y[j] * std::pow(y[j + 1] / y[j], t);
  }
  out[n - 1] = y[lastPoint];
}

// 5 and 7: v0, len, v1, len, v2 ...
std::vector<double> segments(const Gen& g, Shape shape) {
  const std::vector<double>& a = g.args;
  if (a.size() < 3 || a.size() % 2 == 0)
    g.refuse("needs v0, len, v1 [, len, v2 ...] (an odd count of at least 3 numbers), got " + std::to_string(a.size()));
  std::vector<double> y, lengths;
  for (std::size_t k = 0; k < a.size(); ++k) (k % 2 == 0 ? y : lengths).push_back(a[k]);
  double longest = 0.0;
  for (double len : lengths) {
    if (len < 0.0) g.refuse("lengths must not be negative (got " + num(len) + ")");
    longest = std::max(longest, len);
  }
  if (longest == 0.0) g.refuse("the lengths add up to 0");
  if (shape == Shape::Exponential) {
    for (double v : y) {
      if (v == 0.0) g.refuse("values must not be 0 (an exponential segment never reaches 0)");
      if ((v > 0.0) != (y[0] > 0.0)) g.refuse("values must all have the same sign");
    }
  }
  // Relative lengths: dividing by the longest first keeps the sum finite.
  std::vector<double> x(y.size(), 0.0);
  for (std::size_t k = 0; k < lengths.size(); ++k) x[k + 1] = x[k] + lengths[k] / longest;
  const double total = x.back();
  const double lastEntry = static_cast<double>(g.size - 1);
  for (double& pos : x) pos = pos / total * lastEntry;  // total / total is exactly 1
  std::vector<double> out = g.zeros();
  fillSegments(out, x, y, shape);
  return out;
}

// 27: x0, y0, x1, y1 ...
std::vector<double> breakpoints(const Gen& g) {
  const std::vector<double>& a = g.args;
  if (a.size() < 4 || a.size() % 2 != 0)
    g.refuse("needs x0, y0, x1, y1 [, x2, y2 ...] (an even count of at least 4 numbers), got " +
             std::to_string(a.size()));
  std::vector<double> x, y;
  for (std::size_t k = 0; k < a.size(); k += 2) {
    if (!x.empty() && a[k] < x.back())
      g.refuse("x values must not decrease (" + num(a[k]) + " follows " + num(x.back()) + ")");
    x.push_back(a[k]);
    y.push_back(a[k + 1]);
  }
  const double first = x.front();
  const double span = x.back() - first;
  if (span == 0.0) g.refuse("the x values span nothing (the last x equals the first)");
  if (!std::isfinite(span)) g.refuse("the x values span too wide a range");
  const double lastEntry = static_cast<double>(g.size - 1);
  for (double& pos : x) pos = (pos - first) / span * lastEntry;
  std::vector<double> out = g.zeros();
  fillSegments(out, x, y, Shape::Line);
  return out;
}

void normaliseToOne(std::vector<double>& out) {
  double largest = 0.0;
  for (double v : out) largest = std::max(largest, std::fabs(v));
  if (largest == 0.0) return;  // a silent table stays silent
  for (double& v : out) v /= largest;
}

// sin of an angle given in turns. Reduced to the first quarter turn before
// the call (every step exact), so half turns give exactly 0 and quarter turns
// exactly 1: a partial at half the table's rate is silent, not rounding noise
// that normalisation would blow up to full scale.
double sinTurns(double turns) {
  double r = turns - std::floor(turns);
  if (r >= 1.0) r = 0.0;
  double sign = 1.0;
  if (r >= 0.5) {
    r -= 0.5;
    sign = -1.0;
  }
  if (r > 0.25) r = 0.5 - r;
  return sign * std::sin(kTwoPi * r);
}

double cosTurns(double turns) { return sinTurns(turns + 0.25); }

// One sine partial added in: `partial` periods over the table. The position
// within the period is reduced in entries first, which keeps large tables accurate.
void addPartial(std::vector<double>& out, double partial, double strength, double phaseTurns) {
  if (strength == 0.0) return;
  const double n = static_cast<double>(out.size());
  for (std::size_t i = 0; i < out.size(); ++i) {
    const double entries = std::fmod(partial * static_cast<double>(i), n);
    out[i] += strength * sinTurns(entries / n + phaseTurns);
  }
}

// 9: partial number, strength, phase in degrees ...
std::vector<double> partials(const Gen& g) {
  const std::vector<double>& a = g.args;
  if (a.empty() || a.size() % 3 != 0)
    g.refuse("needs partial, strength, phase triples (a multiple of 3 numbers), got " + std::to_string(a.size()));
  std::vector<double> out = g.zeros();
  for (std::size_t k = 0; k < a.size(); k += 3) addPartial(out, a[k], a[k + 1], a[k + 2] / 360.0);
  return out;
}

// 10: strengths of harmonics 1, 2, 3 ...
std::vector<double> harmonics(const Gen& g) {
  if (g.args.empty()) g.refuse("needs at least one harmonic strength");
  std::vector<double> out = g.zeros();
  for (std::size_t k = 0; k < g.args.size(); ++k) addPartial(out, static_cast<double>(k + 1), g.args[k], 0.0);
  return out;
}

// 20: window kind [, peak]. Symmetric: the first and last entries are the window's ends.
std::vector<double> window(const Gen& g, bool normalise) {
  const std::vector<double>& a = g.args;
  if (a.empty() || a.size() > 2)
    g.refuse("needs a window kind and an optional peak, got " + std::to_string(a.size()) + " numbers");
  const double kind = a[0];
  if (kind != 1.0 && kind != 2.0 && kind != 3.0 && kind != 4.0)
    g.refuse("window kind must be 1 (Hamming), 2 (Hanning), 3 (Bartlett) or 4 (Blackman), got " + num(kind));
  const double peak = a.size() > 1 ? a[1] : 1.0;
  std::vector<double> out = g.zeros();
  const long long n = static_cast<long long>(out.size());
  if (n == 1) {
    out[0] = peak;  // only the window's centre
    return out;
  }
  const double span = static_cast<double>(n - 1);
  for (long long i = 0; i < n; ++i) {
    const double turns = static_cast<double>(i) / span;
    switch (static_cast<int>(kind)) {
      case 1:
        out[i] = 0.54 - 0.46 * cosTurns(turns);
        break;
      case 2:
        out[i] = 0.5 - 0.5 * cosTurns(turns);
        break;
      case 3:
        out[i] = 1.0 - std::fabs(2.0 * turns - 1.0);
        break;
      default:
        out[i] = 0.42 - 0.5 * cosTurns(turns) + 0.08 * cosTurns(2.0 * turns);
        break;
    }
  }
  // The peak applies after normalisation, so that it is the table's real maximum.
  if (normalise) normaliseToOne(out);
  if (peak != 1.0)
    for (double& v : out) v *= peak;
  return out;
}

}  // namespace

std::vector<double> makeGenTable(int number, long long size, const std::vector<double>& args) {
  std::vector<double> table;
  remakeGenTable(table, number, size, args);
  return table;
}

void remakeGenTable(std::vector<double>& table, int number, long long size, const std::vector<double>& args) {
  const Gen g(number, size, args);
  // long long: the magnitude of INT_MIN does not fit an int.
  const long long routine = std::llabs(static_cast<long long>(number));
  const bool normalise = number > 0;
  if (routine != 2 && routine != 5 && routine != 7 && routine != 9 && routine != 10 && routine != 20 && routine != 27)
    throw GenError("gen " + std::to_string(number) +
                   " is not a known routine (known: 2, 5, 7, 9, 10, 20, 27; negative to skip normalising)");
  if (size <= 0) g.refuse("table size " + std::to_string(size) + " must be at least 1");
  if (size > kMaxTableSize)
    g.refuse("table size " + std::to_string(size) + " is too large (at most " + std::to_string(kMaxTableSize) +
             " entries)");
  for (std::size_t k = 0; k < args.size(); ++k)
    if (!std::isfinite(args[k]))
      g.refuse("argument " + std::to_string(k + 1) + " is not a finite number (" + num(args[k]) + ")");

  // The values as given, into a table of the same size: nothing can fail
  // past the checks above, so they are written in place.
  if (routine == 2 && table.size() == static_cast<std::size_t>(size)) {
    std::fill(table.begin(), table.end(), 0.0);
    std::copy_n(args.begin(), std::min(args.size(), table.size()), table.begin());
    return;
  }

  std::vector<double> out;
  switch (routine) {
    case 2:
      out = g.zeros();
      for (std::size_t k = 0; k < args.size() && k < out.size(); ++k) out[k] = args[k];
      break;
    case 5:
      out = segments(g, Shape::Exponential);
      break;
    case 7:
      out = segments(g, Shape::Line);
      break;
    case 9:
      out = partials(g);
      if (normalise) normaliseToOne(out);
      break;
    case 10:
      out = harmonics(g);
      if (normalise) normaliseToOne(out);
      break;
    case 20:
      out = window(g, normalise);
      break;
    case 27:
      out = breakpoints(g);
      break;
  }

  for (double v : out)
    if (!std::isfinite(v)) g.refuse("the values overflow (beyond the range of a double)");
  table = std::move(out);
}

}  // namespace vemora
