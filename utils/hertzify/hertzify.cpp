// hertzify: prints the frequency in Hz of each octave.pitch-class value given
// on the command line, one "pch = hz" line per argument, in order.
#include <cstdio>
#include <cstdlib>

#include "pitchconv.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::puts("you must specify pitch in 8ve.pc form");
    return 0;
  }
  // atof reads text that is not a number as 0.0 (or as its numeric prefix);
  // such a value is converted like any other rather than refused.
  for (int i = 1; i < argc; ++i) {
    const double pch = std::atof(argv[i]);
    std::printf("%f = %f\n", pch, cpspch(pch));
  }
  return 0;
}
