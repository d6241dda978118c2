#include "Renderer.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace vemora {
namespace {

// Inserts after every element that starts no later, so that notes of one
// start frame keep the order in which the score played them.
template <typename Queue, typename Item, typename Start>
void insertInOrder(Queue& queue, Item item, Start start) {
  const int64_t at = start(item);
  auto place = std::upper_bound(queue.begin(), queue.end(), at,
                                [&](int64_t frame, const auto& other) { return frame < start(other); });
  queue.insert(place, std::move(item));
}

bool startsEarlier(const std::unique_ptr<RealtimeNote>& a, const std::unique_ptr<RealtimeNote>& b) {
  return a->start() < b->start();
}

// dst[i] += src[i] for count samples, four at a time where it can. Each sum
// is the same single addition as one by one; only the loop is wider.
void addSamples(float* __restrict dst, const float* __restrict src, size_t count) {
  using Float4 = float __attribute__((vector_size(16)));
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    Float4 d0, d1, s0, s1;
    std::memcpy(&d0, dst + i, sizeof d0);
    std::memcpy(&d1, dst + i + 4, sizeof d1);
    std::memcpy(&s0, src + i, sizeof s0);
    std::memcpy(&s1, src + i + 4, sizeof s1);
    d0 += s0;
    d1 += s1;
    std::memcpy(dst + i, &d0, sizeof d0);
    std::memcpy(dst + i + 4, &d1, sizeof d1);
  }
  for (; i < count; ++i) dst[i] += src[i];
}

template <typename Channels>
void mixFrames(const float* chunk, int n, const Channels& outChannels, bool inOrder, float* block, int blockChannels) {
  const int noteChannels = int(outChannels.size());
  if (inOrder && noteChannels == blockChannels) {
    addSamples(block, chunk, size_t(n) * size_t(blockChannels));
    return;
  }
  for (int f = 0; f < n; ++f)
    for (int c = 0; c < noteChannels; ++c)
      block[size_t(f) * size_t(blockChannels) + size_t(outChannels[size_t(c)])] +=
          chunk[size_t(f) * size_t(noteChannels) + size_t(c)];
}

bool inOrder(const std::vector<int>& channels) {
  for (size_t c = 0; c < channels.size(); ++c)
    if (channels[c] != int(c)) return false;
  return true;
}

}  // namespace

void mixChunk(const float* chunk, int n, const ChannelList& outChannels, float* block, int blockChannels) {
  mixFrames(chunk, n, outChannels, outChannels.inOrder(), block, blockChannels);
}

void mixChunk(const float* chunk, int n, const std::vector<int>& outChannels, float* block, int blockChannels) {
  mixFrames(chunk, n, outChannels, inOrder(outChannels), block, blockChannels);
}

Renderer::Renderer(int blockFrames, int channels, NoteRunner& runner)
    : blockFrames(blockFrames), channels(channels), runner(runner), block(size_t(blockFrames) * size_t(channels)) {}

void Renderer::add(std::unique_ptr<RealtimeNote> note) {
  if (!arrived.empty() && note->start() < lastArrivedStart) arrivedInOrder = false;
  lastArrivedStart = note->start();
  waitingEnd = std::max(waitingEnd, note->start() + note->frames());
  arrived.push_back(std::move(note));
}

void Renderer::add(BufferedNote note) {
  insertInOrder(queuedBuffers, std::move(note), [](const BufferedNote& n) { return n.startFrame; });
}

int64_t Renderer::endFrame() const {
  int64_t end = blockStart;
  auto realtime = [&](const std::unique_ptr<RealtimeNote>& note) {
    if (note) end = std::max(end, note->start() + note->frames());
  };
  if (waitingEndKnown) {
    end = std::max(end, waitingEnd);
  } else {
    std::for_each(arrived.begin(), arrived.end(), realtime);
    std::for_each(queued.begin() + std::ptrdiff_t(nextQueued), queued.end(), realtime);
  }
  std::for_each(active.begin(), active.end(), realtime);
  auto buffered = [&](const BufferedNote& note) { end = std::max(end, note.startFrame + note.frameCount()); };
  std::for_each(queuedBuffers.begin(), queuedBuffers.end(), buffered);
  std::for_each(activeBuffers.begin(), activeBuffers.end(), buffered);
  return end;
}

void Renderer::queueArrivals() {
  if (arrived.empty()) return;
  if (!arrivedInOrder) std::stable_sort(arrived.begin(), arrived.end(), startsEarlier);
  arrivedInOrder = true;
  if (nextQueued == queued.size()) {
    queued = std::move(arrived);
    nextQueued = 0;
  } else if (!startsEarlier(arrived.front(), queued.back())) {
    queued.insert(queued.end(), std::make_move_iterator(arrived.begin()), std::make_move_iterator(arrived.end()));
  } else {
    // std::merge takes the earlier arrival first among notes of one start.
    std::vector<std::unique_ptr<RealtimeNote>> merged;
    merged.reserve(queued.size() - nextQueued + arrived.size());
    std::merge(std::make_move_iterator(queued.begin() + std::ptrdiff_t(nextQueued)),
               std::make_move_iterator(queued.end()), std::make_move_iterator(arrived.begin()),
               std::make_move_iterator(arrived.end()), std::back_inserter(merged), startsEarlier);
    queued = std::move(merged);
    nextQueued = 0;
  }
  arrived.clear();
}

int Renderer::renderBlock(int64_t endFrame, OutputSink& sink) {
  queueArrivals();
  const int frames = int(std::clamp<int64_t>(endFrame - blockStart, 0, blockFrames));
  const int64_t horizon = blockStart + (frames > 0 ? blockFrames : 1);
  std::memset(block.data(), 0, size_t(frames) * size_t(channels) * sizeof(float));

  while (nextQueued < queued.size() && queued[nextQueued]->start() < horizon)
    active.push_back(std::move(queued[nextQueued++]));
  if (nextQueued == queued.size() && !queued.empty()) {
    std::vector<std::unique_ptr<RealtimeNote>>().swap(queued);  // every waiting note has started: let the list go
    nextQueued = 0;
  }
  if (nextQueued == queued.size()) {
    // Nothing waits: the notes that did are active now, and endFrame visits those.
    waitingEnd = 0;
    waitingEndKnown = true;
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
  for (std::unique_ptr<RealtimeNote>& note : active) {
    const int64_t from = std::max(note->start() + note->framesDone, blockStart);
    const int64_t to = std::min(note->start() + note->frames(), blockStart + frames);
    bool finished;
    if (note->frames() == 0) {
      // A note of no length still gets one call, at its start.
      runner.runChunk(*note, 0, nullptr);
      finished = true;
    } else if (to > from) {
      const int n = int(to - from);
      float* mix = block.data() + size_t(from - blockStart) * size_t(channels);
      // A note that adds in place skips the chunk: no zeroing, no mixing.
      const bool inPlace = NoteRunner::addsInPlace(*note, channels);
      finished = inPlace ? !runner.runChunkInto(*note, n, mix) : !runner.runChunk(*note, n, nullptr);
      if (!finished) {
        if (!inPlace) mixChunk(runner.chunk(), n, note->state.outChannels, mix, channels);
        note->framesDone += n;
        finished = note->framesDone >= note->frames();
      }
    } else {
      finished = note->framesDone >= note->frames();
    }
    if (finished) {
      if (note->start() + note->frames() > blockStart + frames) waitingEndKnown = false;
      note.reset();
    }
  }
  std::erase_if(active, [](const std::unique_ptr<RealtimeNote>& note) { return !note; });
}

void Renderer::mixBuffers(int frames) {
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

void Renderer::renderAll(OutputSink& sink, const std::function<void(int64_t)>& betweenBlocks) {
  const int64_t total = endFrame();
  for (;;) {
    const int frames = renderBlock(total, sink);
    if (betweenBlocks) betweenBlocks(position());
    if (frames == 0) break;
  }
}

}  // namespace vemora
