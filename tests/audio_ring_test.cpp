// The ring between the render thread and the audio callback: frames come out
// in order, whole, however the two sides' counts and the wrap fall.
#include "AudioRing.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

using vemora::AudioRing;

TEST(AudioRing, HoldsUpToItsCapacityAndWraps) {
  AudioRing ring(2, 5);
  EXPECT_EQ(ring.capacityFrames(), 5u);
  EXPECT_EQ(ring.writable(), 5u);
  const std::vector<float> in = {1, -1, 2, -2, 3, -3, 4, -4, 5, -5, 6, -6, 7, -7};
  EXPECT_EQ(ring.write(in.data(), 7), 5u);  // only what fits
  EXPECT_EQ(ring.writable(), 0u);
  EXPECT_EQ(ring.readable(), 5u);
  std::vector<float> out(6);
  EXPECT_EQ(ring.read(out.data(), 3), 3u);
  EXPECT_EQ(out, (std::vector<float>{1, -1, 2, -2, 3, -3}));
  EXPECT_EQ(ring.write(in.data() + 10, 2), 2u);  // 6 and 7 wrap round
  std::vector<float> rest(8);
  EXPECT_EQ(ring.read(rest.data(), 10), 4u);  // only what is there
  EXPECT_EQ(rest, (std::vector<float>{4, -4, 5, -5, 6, -6, 7, -7}));
  EXPECT_EQ(ring.readable(), 0u);
  EXPECT_EQ(ring.read(rest.data(), 1), 0u);
  EXPECT_EQ(ring.writtenCount(), 7u);
  EXPECT_EQ(ring.readCount(), 7u);
}

// One thread writes a counting signal in odd-sized pieces while another
// reads it in others: every frame arrives once, in order.
TEST(AudioRing, ProducerAndConsumerOnTwoThreadsLoseNothing) {
  constexpr int kFrames = 200000;
  AudioRing ring(2, 257);
  std::thread producer([&] {
    std::vector<float> piece(2 * 61);
    for (int next = 0; next < kFrames;) {
      const int n = std::min(61, kFrames - next);
      for (int i = 0; i < n; ++i) {
        piece[size_t(2 * i)] = float(next + i);
        piece[size_t(2 * i + 1)] = -float(next + i);
      }
      size_t done = 0;
      while (done < size_t(n)) {
        done += ring.write(piece.data() + 2 * done, size_t(n) - done);
        if (done < size_t(n)) std::this_thread::yield();
      }
      next += n;
    }
  });
  std::vector<float> piece(2 * 100);
  int expected = 0;
  bool inOrder = true;
  while (expected < kFrames) {
    const size_t got = ring.read(piece.data(), 100);
    for (size_t i = 0; i < got; ++i) {
      inOrder = inOrder && piece[2 * i] == float(expected) && piece[2 * i + 1] == -float(expected);
      ++expected;
    }
    if (got == 0) std::this_thread::yield();
  }
  producer.join();
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(ring.readable(), 0u);
}

}  // namespace
