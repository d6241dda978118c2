// Dither for integer sound files: triangular noise one step (LSB) wide on
// each side, the difference of two uniform draws. Added before rounding, it
// leaves a quantisation error whose mean and power do not depend on the
// signal: a sound quieter than a step survives as sound in noise instead of
// vanishing, and fades do not turn to distortion as they fall.
#pragma once

#include <cstdint>
#include <random>

namespace vemora {

class TpdfDither {
 public:
  // The same seed gives the same noise, so a render stays repeatable.
  explicit TpdfDither(uint64_t seed) : generator(seed) {}

  // Noise in steps, in (-1, 1): one draw of 64 bits makes the two uniforms.
  double next() {
    const uint64_t bits = generator();
    return (double(uint32_t(bits)) - double(uint32_t(bits >> 32))) * 0x1p-32;
  }

 private:
  std::mt19937_64 generator;
};

}  // namespace vemora
