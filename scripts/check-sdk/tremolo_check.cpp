// Checks what the template's TREMOLO made, reading both files through the
// installed engine library: every output sample must be the input sample
// times amplitude x (1 - depth x (1 - cos(2 pi rate t)) / 2), on every
// channel. Prints the peak and RMS of the input (scaled by the amplitude)
// and of the output.
//
//   tremolo_check INPUT OUTPUT SECONDS AMPLITUDE RATE DEPTH
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <vector>

#include "SoundInput.h"

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: tremolo_check INPUT OUTPUT SECONDS AMPLITUDE RATE DEPTH\n");
    return 2;
  }
  const double seconds = std::atof(argv[3]), amp = std::atof(argv[4]), rate = std::atof(argv[5]),
               depth = std::atof(argv[6]);
  try {
    auto in = vemora::openSoundInput(argv[1]);
    auto out = vemora::openSoundInput(argv[2]);
    const int64_t frames = int64_t(float(seconds) * float(in->sampleRate()) + 0.5f);
    if (out->frames() != frames || out->sampleRate() != in->sampleRate()) {
      std::fprintf(stderr, "tremolo_check: %s has %lld frames at %g Hz, not %lld at %g Hz\n", argv[2],
                   (long long)out->frames(), out->sampleRate(), (long long)frames, in->sampleRate());
      return 1;
    }
    const int inChannels = in->channels(), outChannels = out->channels();
    std::vector<float> input(size_t(frames) * size_t(inChannels)), output(size_t(frames) * size_t(outChannels));
    in->read(0, int(frames), input.data());
    out->read(0, int(frames), output.data());
    double worst = 0.0, inPeak = 0.0, outPeak = 0.0, inSquares = 0.0, outSquares = 0.0;
    for (int64_t f = 0; f < frames; ++f) {
      const double x = input[size_t(f) * size_t(inChannels)] * amp;
      const double swing = 0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * rate * double(f) / in->sampleRate()));
      const double expected = x * (1.0 - depth * swing);
      for (int c = 0; c < outChannels; ++c) {
        const double y = output[size_t(f) * size_t(outChannels) + size_t(c)];
        worst = std::fmax(worst, std::fabs(y - expected));
      }
      const double y = output[size_t(f) * size_t(outChannels)];
      inPeak = std::fmax(inPeak, std::fabs(x));
      outPeak = std::fmax(outPeak, std::fabs(y));
      inSquares += x * x;
      outSquares += y * y;
    }
    const double inRms = std::sqrt(inSquares / double(frames)), outRms = std::sqrt(outSquares / double(frames));
    std::printf(
        "tremolo_check: %lld frames x %d channels; input x amplitude: peak %.4f RMS %.4f; "
        "output: peak %.4f RMS %.4f (RMS ratio %.3f); largest error %.2e\n",
        (long long)frames, outChannels, inPeak, inRms, outPeak, outRms, outRms / inRms, worst);
    // A sample differs from the formula by its float roundings alone.
    if (!(worst <= 1e-5 && outRms > 0.0)) {
      std::fprintf(stderr, "tremolo_check: the output is not the input with the tremolo\n");
      return 1;
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tremolo_check: %s\n", error.what());
    return 1;
  }
  return 0;
}
