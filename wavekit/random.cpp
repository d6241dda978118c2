// The process-wide random generator behind rrand: splitmix64, whose state is
// a plain counter. The same seed gives the same sequence on every machine and
// library version, and the counter advances with one atomic add, so the
// generator stays consistent even if two threads draw at once.
#include <atomic>
#include <cstdint>

#include "wavekit.h"

namespace {

constexpr uint64_t kGolden = 0x9E3779B97F4A7C15ull;

// Start state: as if srrand(0) had been called.
std::atomic<uint64_t> counter{0};

inline uint64_t mix(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

double rrand() {
  const uint64_t z = mix(counter.fetch_add(kGolden, std::memory_order_relaxed) + kGolden);
  // Top 53 bits: k / 2^52 - 1 is exact and lies in [-1, 1).
  const int64_t k = static_cast<int64_t>(z >> 11);
  return static_cast<double>(k - (int64_t{1} << 52)) * 0x1p-52;
}

void srrand(unsigned seed) { counter.store(seed, std::memory_order_relaxed); }
