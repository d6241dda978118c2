// Rendering: notes ordered by start frame, processed in blocks of
// RTBUFSAMPS frames. A note that starts inside a block gets a short first
// chunk; its last chunk stops at its end. Each note writes into a chunk
// buffer of its own that is mixed into the block at the note's place.
//
// The same renderer serves a whole score (every note known before the first
// block) and a live session (notes arrive between blocks).
#pragma once

#include <deque>

#include "EngineState.h"

namespace vemora {

class Renderer {
 public:
  explicit Renderer(Engine::Impl& engine);
  // Takes the notes the engine has accepted since the last call.
  void takeNotes();
  // Renders the next block, stopping early at endFrame; returns its frames
  // (0 once endFrame is reached, after notes of no length there have run).
  int renderBlock(int64_t endFrame, OutputSink& sink);
  int64_t position() const { return blockStart; }
  // No note waits or sounds.
  bool idle() const {
    return nextQueued == queued.size() && active.empty() && queuedBuffers.empty() && activeBuffers.empty();
  }

 private:
  void runNotes(int frames);
  void mixBuffers(int frames);

  Engine::Impl& engine;
  int64_t blockStart = 0;
  std::vector<float> block;
  // By start frame, in order of arrival; queued[nextQueued] starts next. A
  // score's notes usually arrive in order, and then the engine's list is
  // taken over whole rather than copied.
  std::vector<std::unique_ptr<RealtimeNote>> queued;
  size_t nextQueued = 0;
  std::vector<std::unique_ptr<RealtimeNote>> active;
  std::deque<BufferedNote> queuedBuffers;
  std::vector<BufferedNote> activeBuffers;
};

// Adds n frames of a note's chunk into the output block, channel by channel.
void mixChunk(const float* chunk, int n, const ChannelList& outChannels, float* block, int blockChannels);
void mixChunk(const float* chunk, int n, const std::vector<int>& outChannels, float* block, int blockChannels);

}  // namespace vemora
