// Rendering: notes ordered by start frame, processed in blocks of
// RTBUFSAMPS frames. A note that starts inside a block gets a short first
// chunk; its last chunk stops at its end. Each chunk a note writes is mixed
// into the block at the note's place.
//
// The same renderer serves a whole score (every note known before the first
// block) and a live session (notes arrive between blocks).
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "NoteRunner.h"

namespace vemora {

class Renderer {
 public:
  Renderer(int blockFrames, int channels, NoteRunner& runner);
  // The engine hands over each note it accepts, in the order the score (or
  // the client) played them.
  void add(std::unique_ptr<RealtimeNote> note);
  void add(BufferedNote note);
  // The frame at which the last note it holds ends.
  int64_t endFrame() const;
  // Renders the next block, stopping early at endFrame; returns its frames
  // (0 once endFrame is reached, after notes of no length there have run).
  int renderBlock(int64_t endFrame, OutputSink& sink);
  // Renders every note it holds, to the end of the last; betweenBlocks, when
  // given, hears the position after each block.
  void renderAll(OutputSink& sink, const std::function<void(int64_t)>& betweenBlocks);
  int64_t position() const { return blockStart; }
  // No note waits or sounds.
  bool idle() const {
    return arrived.empty() && nextQueued == queued.size() && active.empty() && queuedBuffers.empty() &&
           activeBuffers.empty();
  }

 private:
  void queueArrivals();
  void runNotes(int frames);
  void mixBuffers(int frames);

  const int blockFrames;
  const int channels;
  NoteRunner& runner;
  int64_t blockStart = 0;
  std::vector<float> block;
  // Notes handed over since the last block, in order of arrival.
  std::vector<std::unique_ptr<RealtimeNote>> arrived;
  // By start frame, in order of arrival; queued[nextQueued] starts next. A
  // score's notes usually arrive in order, and then the arrivals are taken
  // over whole rather than copied.
  std::vector<std::unique_ptr<RealtimeNote>> queued;
  size_t nextQueued = 0;
  std::vector<std::unique_ptr<RealtimeNote>> active;
  // What is known of the waiting notes (arrived and queued) without visiting
  // them: a score's notes all wait at once, tens of thousands of them, each
  // in memory of its own. Kept as notes arrive; waitingEnd is the latest end
  // among them, valid while waitingEndKnown, which a note that leaves before
  // its end (dropped while others still wait) clears.
  bool arrivedInOrder = true;
  int64_t lastArrivedStart = 0;
  int64_t waitingEnd = 0;
  bool waitingEndKnown = true;
  std::deque<BufferedNote> queuedBuffers;
  std::vector<BufferedNote> activeBuffers;
};

// Adds n frames of a note's chunk into the output block, channel by channel.
void mixChunk(const float* chunk, int n, const ChannelList& outChannels, float* block, int blockChannels);
void mixChunk(const float* chunk, int n, const std::vector<int>& outChannels, float* block, int blockChannels);

}  // namespace vemora
