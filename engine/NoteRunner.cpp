#include "NoteRunner.h"

#include <algorithm>
#include <cstring>

#include "PluginCalls.h"

namespace vemora {

bool NoteRunner::runChunk(RealtimeNote& note, int n, int* runResult) { return run(note, n, nullptr, runResult); }

bool NoteRunner::runChunkInto(RealtimeNote& note, int n, float* mix) { return run(note, n, mix, nullptr); }

bool NoteRunner::run(RealtimeNote& note, int n, float* out, int* runResult) {
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
      if (!out) {
        const size_t capacity = size_t(Instrument::RTBUFSAMPS) * size_t(inst.outChanCount);
        if (chunkBuffer.size() < capacity) chunkBuffer.resize(capacity);
        // memset: the compiler does not turn this fill into one, and a short
        // note pays for it on every chunk.
        std::memset(chunkBuffer.data(), 0, size_t(n) * size_t(inst.outChanCount) * sizeof(float));
        out = chunkBuffer.data();
      }
      inst.chunkFrames = n;
      inst.outBuffer = out;
      inst.outFramesAdded = 0;
      inst.outFramesCapacity = n;
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
