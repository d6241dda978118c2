// The gen routines' argument handling on arbitrary text, read as a score
// would give it: "number size arg arg ...", numbers in C syntax (so nan,
// inf, 1e999 and hex floats come in too). A refusal (GenError) is a good
// outcome; a table that is made must hold `size` finite entries and keep
// what its routine promises: literal values for 2, values between the given
// points for 5, 7 and 27 (ending on the last one), a peak of exactly 1 for
// normalised 9 and 10 and of exactly the asked peak for normalised 20.
// Sizes the routines accept above 8192 are taken modulo 8192, since only
// their time grows with them.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "GenRoutines.h"

namespace {

constexpr long long kMostEntries = 8192;

void require(bool holds) {
  if (!holds) std::abort();
}

// The values between which every entry must lie (with rounding's room).
void requireWithin(const std::vector<double>& out, const std::vector<double>& points) {
  const auto [lo, hi] = std::minmax_element(points.begin(), points.end());
  const double room = 1e-9 * std::max(std::fabs(*lo), std::fabs(*hi));
  for (double v : out) require(v >= *lo - room && v <= *hi + room);
  require(out.back() == points.back());
}

double largestMagnitude(const std::vector<double>& out) {
  double largest = 0.0;
  for (double v : out) largest = std::max(largest, std::fabs(v));
  return largest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const char* at = text.c_str();
  char* end = nullptr;

  errno = 0;
  const long long number = std::strtoll(at, &end, 10);
  if (end == at || errno == ERANGE || number < std::numeric_limits<int>::min() ||
      number > std::numeric_limits<int>::max())
    return 0;
  at = end;
  long long tableSize = std::strtoll(at, &end, 10);
  if (end == at || errno == ERANGE) return 0;
  at = end;
  if (tableSize > kMostEntries && tableSize <= vemora::kMaxTableSize) tableSize = 1 + tableSize % kMostEntries;
  std::vector<double> args;
  for (double x = std::strtod(at, &end); end != at; x = std::strtod(at, &end)) {
    args.push_back(x);
    at = end;
  }

  std::vector<double> out;
  try {
    out = vemora::makeGenTable(int(number), tableSize, args);
  } catch (const vemora::GenError&) {
    return 0;
  }

  require(out.size() == size_t(tableSize));
  for (double v : out) require(std::isfinite(v));
  const bool normalised = number > 0;
  std::vector<double> points;
  switch (std::llabs(number)) {
    case 2:
      for (size_t k = 0; k < out.size(); ++k) require(out[k] == (k < args.size() ? args[k] : 0.0));
      break;
    case 5:
    case 7:
      for (size_t k = 0; k < args.size(); k += 2) points.push_back(args[k]);
      requireWithin(out, points);
      break;
    case 27:
      for (size_t k = 1; k < args.size(); k += 2) points.push_back(args[k]);
      requireWithin(out, points);
      break;
    case 9:
    case 10:
      if (normalised) require(largestMagnitude(out) == 1.0 || largestMagnitude(out) == 0.0);
      break;
    case 20:
      if (normalised) {
        const double peak = std::fabs(args.size() > 1 ? args[1] : 1.0);
        require(largestMagnitude(out) == peak || largestMagnitude(out) == 0.0);
      }
      break;
  }
  return 0;
}
