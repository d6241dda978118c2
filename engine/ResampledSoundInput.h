// An input heard at the render's rate although its file runs at another:
// libsamplerate converts it as notes read it, a block at a time, so memory
// stays a few blocks whatever the file's length.
#pragma once

#include <memory>

#include "SoundInput.h"

namespace vemora {

class MemoryBudget;

// Wraps source so that it reads at renderRate. Throws SoundFileError when
// the two rates lie too far apart for the resampler (more than 256 times),
// and MemoryRefused when budget (when given) cannot hold its cache.
std::unique_ptr<SoundInput> resampledSoundInput(std::shared_ptr<SoundInput> source, int renderRate,
                                                MemoryBudget* budget = nullptr);

// The input a resampled one reads, or input itself when it is not resampled.
std::shared_ptr<SoundInput> unresampled(const std::shared_ptr<SoundInput>& input);

}  // namespace vemora
