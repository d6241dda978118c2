// The engine's output going into a sound file: the sink that a file render
// and a socket session both hand the engine.
#pragma once

#include "Engine.h"
#include "SoundOutput.h"

namespace vemora {

class FileSink : public OutputSink {
 public:
  explicit FileSink(SoundFileWriter& writer) : writer(writer) {}
  void write(const float* interleaved, int frames) override { writer.write(interleaved, frames); }

 private:
  SoundFileWriter& writer;
};

}  // namespace vemora
