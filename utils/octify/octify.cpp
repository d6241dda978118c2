// octify: prints the octave.pitch-class value of each frequency in Hz given
// on the command line, one "hz = pch" line per argument, in order.
#include <cstdio>
#include <cstdlib>

#include "pitchconv.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::puts("you must specify pitch in hz");
    return 0;
  }
  // atof reads text that is not a number as 0.0 (or as its numeric prefix);
  // such a value is converted like any other rather than refused.
  for (int i = 1; i < argc; ++i) {
    const double hz = std::atof(argv[i]);
    std::printf("%f = %f\n", hz, pchcps(hz));
  }
  return 0;
}
