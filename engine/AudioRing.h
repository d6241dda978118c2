// A single-producer single-consumer ring of interleaved frames: the render
// thread writes, the audio callback reads. Neither side ever blocks, locks
// or allocates; each side owns one counter and only reads the other's.
// The counters count frames since the ring was made (64 bits never wrap).
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace vemora {

class AudioRing {
 public:
  // Holds up to capacityFrames frames of `channels` samples.
  AudioRing(int channels, size_t capacityFrames)
      : channels(size_t(std::max(channels, 1))),
        capacity(std::max<size_t>(capacityFrames, 1)),
        samples(this->capacity * this->channels) {}
  AudioRing(const AudioRing&) = delete;
  AudioRing& operator=(const AudioRing&) = delete;

  size_t capacityFrames() const { return capacity; }
  int channelCount() const { return int(channels); }

  // Producer side.
  size_t writable() const { return capacity - size_t(written.load(std::memory_order_relaxed) - readCount()); }
  // Copies up to n frames; returns how many fit.
  size_t write(const float* frames, size_t n) {
    const uint64_t head = written.load(std::memory_order_relaxed);
    n = std::min(n, capacity - size_t(head - readCount()));
    copyIn(head, frames, n);
    written.store(head + n, std::memory_order_release);
    return n;
  }

  // Consumer side (the audio callback): copies up to n frames, returns how many.
  size_t read(float* out, size_t n) {
    const uint64_t tail = taken.load(std::memory_order_relaxed);
    n = std::min(n, size_t(written.load(std::memory_order_acquire) - tail));
    copyOut(tail, out, n);
    taken.store(tail + n, std::memory_order_release);
    return n;
  }

  // Either side: frames waiting, frames written and read since the start.
  size_t readable() const { return size_t(writtenCount() - readCount()); }
  uint64_t writtenCount() const { return written.load(std::memory_order_acquire); }
  uint64_t readCount() const { return taken.load(std::memory_order_acquire); }

 private:
  void copyIn(uint64_t at, const float* from, size_t n) {
    const size_t start = size_t(at % capacity);
    const size_t first = std::min(n, capacity - start);
    if (first) std::memcpy(&samples[start * channels], from, first * channels * sizeof(float));
    if (n > first) std::memcpy(samples.data(), from + first * channels, (n - first) * channels * sizeof(float));
  }
  void copyOut(uint64_t at, float* to, size_t n) const {
    const size_t start = size_t(at % capacity);
    const size_t first = std::min(n, capacity - start);
    if (first) std::memcpy(to, &samples[start * channels], first * channels * sizeof(float));
    if (n > first) std::memcpy(to + first * channels, samples.data(), (n - first) * channels * sizeof(float));
  }

  const size_t channels;
  const size_t capacity;
  std::vector<float> samples;
  alignas(64) std::atomic<uint64_t> written{0};  // the producer's
  alignas(64) std::atomic<uint64_t> taken{0};    // the consumer's
};

}  // namespace vemora
