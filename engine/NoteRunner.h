// Runs a real-time note one chunk at a time: configures it before its first
// chunk, lends it the chunk buffer that every note writes in turn, and drops
// it (counting it refused) when its instrument fails.
#pragma once

#include <vector>

#include "Note.h"

namespace vemora {

class NoteRunner {
 public:
  NoteRunner(MessageLog& log, NoteTally& tally) : log(log), tally(tally) {}

  // Runs n frames of the note into the chunk buffer; *runResult, when given,
  // gets what run returned. Returns false when the note could not go on and
  // must be dropped.
  bool runChunk(RealtimeNote& note, int n, int* runResult);
  // Runs n frames of a note that adds in place straight into `mix`, the
  // frames of the block it sounds in (which hold what other notes added).
  bool runChunkInto(RealtimeNote& note, int n, float* mix);
  // Whether the note may add in place into a block of blockChannels
  // channels: it asked to, and its channels are the block's, in order, so
  // the chunk it would write has the block's layout.
  static bool addsInPlace(const RealtimeNote& note, int blockChannels) {
    return note.state.addsInPlace && note.state.outChannels.inOrder() && note.inst->outChanCount == blockChannels;
  }
  // What the last run wrote: the one chunk buffer that every note uses in
  // turn, so that no note owns a buffer while it waits.
  const float* chunk() const { return chunkBuffer.data(); }

 private:
  // out null: into the chunk buffer, zeroed first.
  bool run(RealtimeNote& note, int n, float* out, int* runResult);

  MessageLog& log;
  NoteTally& tally;
  // Grows (once, in practice) to a block of the widest note.
  std::vector<float> chunkBuffer;
};

}  // namespace vemora
