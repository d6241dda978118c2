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

bool startsEarlier(const std::unique_ptr<RealtimeNote>& a, const std::unique_ptr<RealtimeNote>& b) {
  return a->start() < b->start();
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

void Engine::Impl::render(OutputSink& sink, const std::function<void(int64_t)>& betweenBlocks) {
  std::stable_sort(pending.begin(), pending.end(), startsEarlier);
  std::stable_sort(buffered.begin(), buffered.end(),
                   [](const BufferedNote& a, const BufferedNote& b) { return a.startFrame < b.startFrame; });
  const int blockFrames = settings.blockFrames;
  const int channels = settings.channels;
  const int64_t total = endFrame();
  std::vector<float> block(size_t(blockFrames) * size_t(channels));
  std::vector<std::unique_ptr<RealtimeNote>> active;
  size_t nextPending = 0;
  size_t nextBuffered = 0;
  std::vector<const BufferedNote*> activeBuffered;

  for (int64_t blockStart = 0;
       blockStart < total || nextPending < pending.size() || !active.empty(); blockStart += blockFrames) {
    const int64_t horizon = blockStart + blockFrames;
    const int frames = int(std::clamp<int64_t>(total - blockStart, 0, blockFrames));
    std::fill_n(block.data(), size_t(frames) * size_t(channels), 0.0f);

    while (nextPending < pending.size() && pending[nextPending]->start() < horizon)
      active.push_back(std::move(pending[nextPending++]));
    while (nextBuffered < buffered.size() && buffered[nextBuffered].startFrame < horizon)
      activeBuffered.push_back(&buffered[nextBuffered++]);

    for (std::unique_ptr<RealtimeNote>& note : active) {
      const int64_t from = std::max(note->start() + note->framesDone, blockStart);
      const int64_t to = std::min(note->start() + note->frames(), blockStart + frames);
      bool finished;
      if (note->frames() == 0) {
        // A note of no length still gets one call, at its start.
        runChunk(*note, 0, nullptr);
        finished = true;
      } else if (to > from) {
        const int n = int(to - from);
        finished = !runChunk(*note, n, nullptr);
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

    for (const BufferedNote*& note : activeBuffered) {
      const int64_t from = std::max(note->startFrame, blockStart);
      const int64_t to = std::min(note->startFrame + note->frameCount(), blockStart + frames);
      if (to > from)
        mixChunk(note->frames.data() + size_t(from - note->startFrame) * size_t(note->channels), int(to - from),
                 note->outChannels, block.data() + size_t(from - blockStart) * size_t(channels), channels);
      if (note->startFrame + note->frameCount() <= blockStart + frames) note = nullptr;
    }
    std::erase(activeBuffered, nullptr);

    if (frames > 0) sink.write(block.data(), frames);
    if (betweenBlocks) betweenBlocks(blockStart + frames);
  }
  pending.clear();
  buffered.clear();
}

}  // namespace vemora
