#include "LiveInput.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace vemora {

LiveInput::LiveInput(DeviceInfo device, int channels, double sampleRate)
    : info(std::move(device)),
      channelCount(std::max(channels, 1)),
      rate(sampleRate),
      label("device (" + info.name + ")") {}

// Far more than any note lasts, and far enough from the top of the range
// that a note's cursor and what its reads add to it never overflow.
int64_t LiveInput::frames() const { return std::numeric_limits<int64_t>::max() / 4; }

void LiveInput::attach(AudioRing& from) {
  ring = &from;
  historyFrames = std::max<int64_t>(1, std::llround(kHistorySeconds * rate));
  history.assign(size_t(historyFrames) * size_t(channelCount), 0.0f);
  readable = 0;
}

int64_t LiveInput::arrived() const { return ring ? int64_t(ring->writtenCount()) : 0; }

void LiveInput::advanceTo(int64_t target) {
  if (!ring) return;
  const size_t channels = size_t(channelCount);
  while (readable < target) {
    const int64_t at = readable % historyFrames;
    const size_t n = size_t(std::min(target - readable, historyFrames - at));
    const size_t got = ring->read(&history[size_t(at) * channels], n);
    readable += int64_t(got);
    if (got < n) break;  // not arrived yet: the caller waits for it first
  }
}

void LiveInput::read(int64_t startFrame, int frameCount, float* dst) {
  const size_t channels = size_t(channelCount);
  const int64_t oldest = std::max<int64_t>(0, readable - historyFrames);
  int64_t frame = startFrame;
  const int64_t end = startFrame + std::max(frameCount, 0);
  float* out = dst;
  while (frame < end) {
    if (frame < oldest || frame >= readable) {
      // Silence up to the next frame that is kept (or to the end).
      const int64_t to = frame < oldest ? std::min(end, oldest) : end;
      std::memset(out, 0, size_t(to - frame) * channels * sizeof(float));
      out += size_t(to - frame) * channels;
      frame = to;
      continue;
    }
    const int64_t at = frame % historyFrames;
    const int64_t n = std::min({end, readable, frame + (historyFrames - at)}) - frame;
    std::memcpy(out, &history[size_t(at) * channels], size_t(n) * channels * sizeof(float));
    out += size_t(n) * channels;
    frame += n;
  }
}

}  // namespace vemora
