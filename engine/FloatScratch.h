// A render held back in float before it is written: its frames go to an
// unnamed file beside the output (on the output's disk, never in memory),
// so that what depends on the whole render, its peak, is known before the
// file is written from it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Engine.h"

namespace vemora {

class FloatScratch : public OutputSink {
 public:
  // Makes the file in the folder of outputPath, already unlinked, so that
  // nothing of it is left whatever happens. Throws SoundFileError naming
  // the output.
  FloatScratch(const std::string& outputPath, int channels);
  ~FloatScratch() override;
  FloatScratch(const FloatScratch&) = delete;
  FloatScratch& operator=(const FloatScratch&) = delete;

  void write(const float* interleaved, int frames) override;
  // The largest magnitude among the finite samples written.
  float peak() const { return largest; }
  // Hands every frame written, times gain, to sink in order, a buffer at a
  // time; betweenPieces (if given) runs after each.
  void replay(double gain, OutputSink& sink, const std::function<void()>& betweenPieces);

 private:
  void flush();
  [[noreturn]] void fail(const std::string& reason) const;

  std::string outputPath;
  int channels;
  int fd = -1;
  std::vector<float> buffer;
  size_t held = 0;  // samples gathered in buffer, not yet in the file
  int64_t bytesInFile = 0;
  float largest = 0.0f;
};

// The gain that brings peak to targetDbfs; 1 for a silent render, which no
// gain can bring anywhere.
double normalizingGain(float peak, double targetDbfs);

}  // namespace vemora
