// Audio input for notes: a sound file read through libsndfile, or frames held
// in memory. Every note keeps its own cursor; reads outside the source give zeros.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vemora {

struct SoundFileError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class SoundInput {
 public:
  virtual ~SoundInput() = default;
  virtual int channels() const = 0;
  virtual double sampleRate() const = 0;
  virtual int64_t frames() const = 0;
  virtual const std::string& name() const = 0;
  // Reads frameCount interleaved frames starting at startFrame (which may be
  // negative or past the end: those frames are zeros).
  virtual void read(int64_t startFrame, int frameCount, float* dst) = 0;
};

// Opens a sound file; throws SoundFileError naming the file and the reason.
// A file that can be read but is damaged (cut short) opens, and *warning
// (when given) says what is wrong with it.
std::unique_ptr<SoundInput> openSoundInput(const std::string& path, std::string* warning = nullptr);
std::unique_ptr<SoundInput> memorySoundInput(std::vector<float> interleaved, int channels,
                                             double sampleRate, std::string name = "memory");

}  // namespace vemora
