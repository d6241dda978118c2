#include "Renderer.h"

#include <algorithm>
#include <cstring>

namespace vemora {
namespace {

bool isIdentity(const std::vector<int>& channels, int count) {
  if (int(channels.size()) != count) return false;
  for (int c = 0; c < count; ++c)
    if (channels[size_t(c)] != c) return false;
  return true;
}

// Inserts after every element that starts no later, so that notes of one
// start frame keep the order in which the score played them.
template <typename Queue, typename Item, typename Start>
void insertInOrder(Queue& queue, Item item, Start start) {
  const int64_t at = start(item);
  auto place = std::upper_bound(queue.begin(), queue.end(), at,
                                [&](int64_t frame, const auto& other) { return frame < start(other); });
  queue.insert(place, std::move(item));
}

}  // namespace

void mixChunk(const float* chunk, int n, const std::vector<int>& outChannels, float* block,
              int blockChannels) {
  const int noteChannels = int(outChannels.size());
  if (isIdentity(outChannels, blockChannels)) {
    const size_t count = size_t(n) * size_t(blockChannels);
    for (size_t i = 0; i < count; ++i) block[i] += chunk[i];
    return;
  }
  for (int f = 0; f < n; ++f)
    for (int c = 0; c < noteChannels; ++c)
      block[size_t(f) * size_t(blockChannels) + size_t(outChannels[size_t(c)])] +=
          chunk[size_t(f) * size_t(noteChannels) + size_t(c)];
}

bool Engine::Impl::runChunk(RealtimeNote& note, int n, int* runResult) {
  Instrument& inst = *note.inst;
  gContext.note = &note.state;
  bool ok = true;
  try {
    if (!note.configured) {
      note.configured = true;
      note.state.chunkBuffer.assign(size_t(Instrument::RTBUFSAMPS) * size_t(inst.outChanCount), 0.0f);
      if (inst.configure() < 0) {
        report(MessageKind::Refusal, note.state.name, "the note could not be set up (out of memory); dropped");
        ok = false;
      }
    }
    if (ok) {
      inst.chunkFrames = n;
      inst.outBuffer = note.state.chunkBuffer.data();
      inst.outFramesAdded = 0;
      inst.outFramesCapacity = n;
      std::fill_n(note.state.chunkBuffer.data(), size_t(n) * size_t(inst.outChanCount), 0.0f);
      const int result = inst.run();
      if (runResult) *runResult = result;
      note.ranOnce = true;
    }
  } catch (...) {
    report(MessageKind::Refusal, note.state.name, "the instrument failed while playing; note dropped");
    ok = false;
  }
  gContext.note = nullptr;
  if (!ok) {
    --played;
    ++refused;
  }
  return ok;
}

Renderer::Renderer(Engine::Impl& engine)
    : engine(engine), block(size_t(engine.settings.blockFrames) * size_t(engine.settings.channels)) {}

void Renderer::takeNotes() {
  for (std::unique_ptr<RealtimeNote>& note : engine.pending)
    insertInOrder(queued, std::move(note), [](const std::unique_ptr<RealtimeNote>& n) { return n->start(); });
  engine.pending.clear();
  for (BufferedNote& note : engine.buffered)
    insertInOrder(queuedBuffers, std::move(note), [](const BufferedNote& n) { return n.startFrame; });
  engine.buffered.clear();
}

int Renderer::renderBlock(int64_t endFrame, OutputSink& sink) {
  const int blockFrames = engine.settings.blockFrames;
  const int channels = engine.settings.channels;
  const int frames = int(std::clamp<int64_t>(endFrame - blockStart, 0, blockFrames));
  const int64_t horizon = blockStart + (frames > 0 ? blockFrames : 1);
  std::fill_n(block.data(), size_t(frames) * size_t(channels), 0.0f);

  while (!queued.empty() && queued.front()->start() < horizon) {
    active.push_back(std::move(queued.front()));
    queued.pop_front();
  }
  while (!queuedBuffers.empty() && queuedBuffers.front().startFrame < horizon) {
    activeBuffers.push_back(std::move(queuedBuffers.front()));
    queuedBuffers.pop_front();
  }
  runNotes(frames);
  mixBuffers(frames);
  if (frames > 0) sink.write(block.data(), frames);
  blockStart += frames;
  return frames;
}

void Renderer::runNotes(int frames) {
  const int channels = engine.settings.channels;
  for (std::unique_ptr<RealtimeNote>& note : active) {
    const int64_t from = std::max(note->start() + note->framesDone, blockStart);
    const int64_t to = std::min(note->start() + note->frames(), blockStart + frames);
    bool finished;
    if (note->frames() == 0) {
      // A note of no length still gets one call, at its start.
      engine.runChunk(*note, 0, nullptr);
      finished = true;
    } else if (to > from) {
      const int n = int(to - from);
      finished = !engine.runChunk(*note, n, nullptr);
      if (!finished) {
        mixChunk(note->state.chunkBuffer.data(), n, note->state.outChannels,
                 block.data() + size_t(from - blockStart) * size_t(channels), channels);
        note->framesDone += n;
        finished = note->framesDone >= note->frames();
      }
    } else {
      finished = note->framesDone >= note->frames();
    }
    if (finished) note.reset();
  }
  std::erase_if(active, [](const std::unique_ptr<RealtimeNote>& note) { return !note; });
}

void Renderer::mixBuffers(int frames) {
  const int channels = engine.settings.channels;
  for (BufferedNote& note : activeBuffers) {
    const int64_t from = std::max(note.startFrame, blockStart);
    const int64_t to = std::min(note.startFrame + note.frameCount(), blockStart + frames);
    if (to > from)
      mixChunk(note.frames.data() + size_t(from - note.startFrame) * size_t(note.channels), int(to - from),
               note.outChannels, block.data() + size_t(from - blockStart) * size_t(channels), channels);
    if (note.startFrame + note.frameCount() <= blockStart + frames) note.frames = {};  // done: release it
  }
  std::erase_if(activeBuffers, [](const BufferedNote& note) { return note.frames.empty(); });
}

void Engine::Impl::render(OutputSink& sink, const std::function<void(int64_t)>& betweenBlocks) {
  const int64_t total = endFrame();
  Renderer renderer(*this);
  renderer.takeNotes();
  for (;;) {
    const int frames = renderer.renderBlock(total, sink);
    if (betweenBlocks) betweenBlocks(renderer.position());
    if (frames == 0) break;
  }
}

}  // namespace vemora
