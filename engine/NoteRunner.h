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
  // What the last run wrote: the one chunk buffer that every note uses in
  // turn, so that no note owns a buffer while it waits.
  const float* chunk() const { return chunkBuffer.data(); }

 private:
  MessageLog& log;
  NoteTally& tally;
  // Grows (once, in practice) to a block of the widest note.
  std::vector<float> chunkBuffer;
};

}  // namespace vemora
