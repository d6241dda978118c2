// Peak memory of a long render: writes an input file of the given minutes,
// pans it to a stereo file through the engine and prints the peak resident
// size. Memory must stay the same whatever the length.
//   render_memory MINUTES [FOLDER]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "Engine.h"
#include "SoundOutput.h"
#include "wavekit.h"

using namespace vemora;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: render_memory MINUTES [FOLDER]\n");
    return 1;
  }
  const int minutes = std::atoi(argv[1]);
  const std::filesystem::path folder = argc > 2 ? argv[2] : std::filesystem::temp_directory_path();
  const std::string input = (folder / "render_memory_in.wav").string();
  const std::string output = (folder / "render_memory_out.wav").string();
  constexpr int kRate = 44100;
  {
    SoundFileWriter writer(input, outputFormatFor(input, ""), 1, kRate);
    std::vector<float> block(4096);
    for (int64_t done = 0; done < int64_t(minutes) * 60 * kRate; done += int64_t(block.size())) {
      for (float& sample : block) sample = float(rrand()) * 0.5f;
      writer.write(block.data(), int(block.size()));
    }
    writer.commit();
  }
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  Engine engine;
  engine.load("PAN");
  engine.setInput(input);
  engine.makeTable(2, 7, 1000, {1, 1000, 0});
  engine.playNote("PAN", {0, 0, minutes * 60.0, 1, 0, 0});
  const auto start = std::chrono::steady_clock::now();
  RenderReport report = engine.renderToFile(output);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  std::printf("%d min: %lld frames in %.3f s (%.0fx real time), peak RSS %.1f MB (%.1f MB before rendering)\n", minutes,
              static_cast<long long>(report.frames), seconds, minutes * 60.0 / seconds,
              double(after.ru_maxrss) / 1024.0, double(before.ru_maxrss) / 1024.0);
  std::filesystem::remove(input);
  std::filesystem::remove(output);
  return 0;
}
