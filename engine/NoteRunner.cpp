#include "NoteRunner.h"

#include <algorithm>
#include <cstring>

#include "PluginCalls.h"

namespace vemora {

bool NoteRunner::runChunk(RealtimeNote& note, int n, int* runResult) {
  Instrument& inst = *note.inst;
  const PluginCallScope scope(&note.state);
  bool ok = true;
  try {
    if (!note.configured) {
      note.configured = true;
      if (inst.configure() < 0) {
        log.report(MessageKind::Refusal, note.state.name, "the note could not be set up (out of memory); dropped");
        ok = false;
      }
    }
    if (ok) {
      const size_t capacity = size_t(Instrument::RTBUFSAMPS) * size_t(inst.outChanCount);
      if (chunkBuffer.size() < capacity) chunkBuffer.resize(capacity);
      float* chunk = chunkBuffer.data();
      inst.chunkFrames = n;
      inst.outBuffer = chunk;
      inst.outFramesAdded = 0;
      inst.outFramesCapacity = n;
      // memset: the compiler does not turn this fill into one, and a short
      // note pays for it on every chunk.
      std::memset(chunk, 0, size_t(n) * size_t(inst.outChanCount) * sizeof(float));
      const int result = inst.run();
      if (runResult) *runResult = result;
      note.ranOnce = true;
    }
  } catch (...) {
    log.report(MessageKind::Refusal, note.state.name, "the instrument failed while playing; note dropped");
    ok = false;
  }
  if (!ok) tally.dropped();
  return ok;
}

}  // namespace vemora
