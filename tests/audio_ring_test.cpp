// The ring between the render thread and the audio callback: frames come out
// in order, whole, however the two sides' counts and the wrap fall; and the
// input device's history that the render thread fills from one.
#include "AudioRing.h"

#include <gtest/gtest.h>

#include "LiveInput.h"

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

// The input device as notes read it, from the ring the callback fills:
// what came in before the horizon and within the history, silence before
// and after, however the history's wrap falls.
TEST(LiveInput, NotesReadWhatCameInBeforeTheHorizonAndWithinTheHistory) {
  vemora::DeviceInfo device;
  device.name = "test";
  vemora::LiveInput input(device, 2, 100.0);  // a history of 1000 frames
  AudioRing ring(2, 4096);
  input.attach(ring);
  std::vector<float> frames;
  for (int f = 0; f < 2500; ++f) frames.insert(frames.end(), {float(f), -float(f)});
  ASSERT_EQ(ring.write(frames.data(), 2500), 2500u);
  EXPECT_EQ(input.arrived(), 2500);

  auto read = [&](int64_t start, int count) {
    std::vector<float> out(size_t(count) * 2, 99.0f);
    input.read(start, count, out.data());
    return out;
  };
  auto expectFrames = [&](const std::vector<float>& got, int64_t start, int64_t keptFrom, int64_t keptTo) {
    for (size_t i = 0; i < got.size() / 2; ++i) {
      const int64_t f = start + int64_t(i);
      const float want = f >= keptFrom && f < keptTo ? float(f) : 0.0f;
      ASSERT_EQ(got[2 * i], want) << "frame " << f;
      ASSERT_EQ(got[2 * i + 1], -want) << "frame " << f;
    }
  };
  input.advanceTo(1200);
  EXPECT_EQ(ring.readable(), 1300u);               // the rest waits in the ring
  expectFrames(read(150, 100), 150, 200, 1200);    // older than the history
  expectFrames(read(1150, 100), 1150, 200, 1200);  // come in, but past the horizon
  expectFrames(read(-10, 20), -10, 200, 1200);
  input.advanceTo(2500);
  expectFrames(read(1490, 1020), 1490, 1500, 2500);  // across the wrap, to the end and past it
  EXPECT_TRUE(input.arrivesLive());
  EXPECT_GT(input.frames(), int64_t(1) << 60);
}
