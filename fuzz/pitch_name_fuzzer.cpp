// The letter-name pitch parser on arbitrary text. Whatever the text, the
// parser returns a pitch that a name can spell (letter C to B, two
// accidentals, octave digit 0 to 9, cents within +-100) or its fallback,
// middle C; pchlet and cpslet agree with it to the bit, and so does the
// silent parser that scores use, which refuses exactly what octlet refuses.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "pitchconv.h"

namespace {

// Cbb0 -100 and Bx9 +100 in oct: octave digit + 4, semitones / 12, cents / 1200.
constexpr double kLowestOct = 4.0 - 2.0 / 12.0 - 100.0 / 1200.0;
constexpr double kHighestOct = 13.0 + 13.0 / 12.0 + 100.0 / 1200.0;
constexpr double kOctZeroHz = 1.0219748644554636;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A NUL inside the input ends the name early, as it would for any caller.
  const std::string text(reinterpret_cast<const char*>(data), size);
  const double oct = octlet(text.c_str());
  if (!(oct >= kLowestOct - 1e-12 && oct <= kHighestOct + 1e-12)) std::abort();
  if (pchlet(text.c_str()) != pchoct(oct)) std::abort();
  if (cpslet(text.c_str()) != std::exp2(oct) * kOctZeroHz) std::abort();
  double checked = -1.0;
  if (pitch_name_oct(text.c_str(), &checked) ? checked != oct : (checked != -1.0 || oct != 8.0)) std::abort();
  return 0;
}
