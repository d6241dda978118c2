// Rendering: notes ordered by start frame, processed in blocks of
// RTBUFSAMPS frames. A note that starts inside a block gets a short first
// chunk; its last chunk stops at its end. Each note writes into a chunk
// buffer of its own that is mixed into the block at the note's place.
#pragma once

#include "EngineState.h"

namespace vemora {

// Adds n frames of a note's chunk into the output block, channel by channel.
void mixChunk(const float* chunk, int n, const std::vector<int>& outChannels, float* block,
              int blockChannels);

}  // namespace vemora
