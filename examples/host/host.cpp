// vemora-host: a small program that embeds the engine and reacts to a score.
//
//   vemora-host score.lua
//
// It reads the score, renders it block by block without writing a file (a
// real host would play the blocks or hand them on), and after every block
// reads and clears the flag bang_ready. A HOSTPING note in the score raises
// the flag when the render reaches its start time; the host answers with a
// cue line on standard output. Notes of the score that sound are measured,
// so each cue also reports the loudest sample heard since the last one.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>

#include "Engine.h"
#include "ScoreReader.h"

namespace {

// Stands in for an audio device: keeps the peak level of what it is given.
class PeakMeter : public vemora::OutputSink {
 public:
  explicit PeakMeter(int channels) : channels(channels) {}

  void write(const float* interleaved, int frames) override {
    const int64_t samples = int64_t(frames) * channels;
    for (int64_t i = 0; i < samples; ++i) peak = std::fmax(peak, std::fabs(interleaved[i]));
  }

  // The peak since the last call.
  float take() {
    const float value = peak;
    peak = 0.0f;
    return value;
  }

 private:
  int channels;
  float peak = 0.0f;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s score.lua\n", argv[0]);
    return 2;
  }
  try {
    vemora::Engine engine;
    vemora::ScoreReader reader(engine);
    reader.run(argv[1]);

    const double sampleRate = engine.settings().sampleRate;
    PeakMeter meter(engine.settings().channels);
    int cues = 0;
    int64_t blockStart = 0;
    // The flag was raised during the block that just ended, so the cue's
    // time is known to within one block.
    engine.render(meter, [&](int64_t nextFrame) {
      if (vemora::takeBangReady()) {
        ++cues;
        std::printf("cue %d: %.4f s to %.4f s (frames %lld to %lld), peak since the last cue %.4f\n", cues,
                    double(blockStart) / sampleRate, double(nextFrame) / sampleRate, static_cast<long long>(blockStart),
                    static_cast<long long>(nextFrame), double(meter.take()));
        std::fflush(stdout);
      }
      blockStart = nextFrame;
    });
    std::printf("%d cue%s in %.4f s\n", cues, cues == 1 ? "" : "s", double(blockStart) / sampleRate);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
