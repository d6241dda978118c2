// The numbered routines that fill function tables (music-N numbering).
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace vemora {

// A refused table: the text says what was wrong with the arguments.
struct GenError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Largest table the engine will make, in entries.
constexpr long long kMaxTableSize = 1LL << 26;

// Makes a table of `size` entries with routine `number` (negative: the same
// routine without normalisation). Throws GenError on bad arguments.
//   2  literal values (missing values are 0)
//   5  exponential segments  v0, len, v1, len, v2 ...  (no zero, no sign change)
//   7  line segments         v0, len, v1, len, v2 ...
//   9  partials              number, strength, phase in degrees, ...
//   10 harmonic strengths    s1, s2, ...
//   20 windows               kind (1 Hamming, 2 Hanning, 3 Bartlett, 4 Blackman)
//   27 breakpoints           x0, y0, x1, y1 ...
// Segment lengths (5, 7) are relative and scaled to fill the table; the x of
// 27 are scaled so that the last x is the table's last entry. 9, 10 and 20
// are normalised to a peak of 1 unless the number is negative.
std::vector<double> makeGenTable(int number, long long size, const std::vector<double>& args);
// The same values into table, reusing its storage where it can; a refused
// table leaves it as it was.
void remakeGenTable(std::vector<double>& table, int number, long long size, const std::vector<double>& args);

}  // namespace vemora
