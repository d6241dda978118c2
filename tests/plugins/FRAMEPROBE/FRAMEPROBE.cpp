// FRAMEPROBE: a test instrument that shows what the engine hands a note.
//
// p0 start (s)  p1 duration (s)  p2 mode:
//   0 writes frameCursor + 1 on every channel
//   1 writes nothing
//   2 writes only the first half of each chunk and returns that count
//   3 reads input from p3 seconds and writes input channel 0 on every channel
//   4 writes update()'s value of p3 on every channel (p3 may be a table)
//   5 writes getPFieldTable(3) entry frameCursor, or -1 without a table
//   6 writes as mode 0, and throws when its frame p3 comes (an instrument
//     that fails while it plays)
// A note of no length raises bang_ready when it runs.
#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <vector>

#include "Instrument.h"

class FRAMEPROBE : public Instrument {
 public:
  int init(double* p, int n) override {
    mode = int(p[2]);
    if (rtsetoutput(float(p[0]), float(p[1]), this) == -1) return -1;
    if (mode == 3) {
      if (rtsetinput(float(p[3]), this) == -1) return -1;
      input.resize(std::size_t(inChanCount) * std::size_t(RTBUFSAMPS));
    }
    if (mode < 0 || mode > 6) return die("FRAMEPROBE", "Unknown mode %d.", mode);
    if (mode == 6) failAt = int(p[3]);
    // It writes through rtaddout alone, so it may add in place; a note that
    // fails (mode 6) keeps the zeroed chunk that its failure throws away.
    if (mode != 6) rtaddinplace(this);
    nargs = n;
    if (mode != 1) frame.resize(std::size_t(outChanCount));
    return noteFrames;
  }

  int run() override {
    if (chunkFrames == 0) bang_ready = 1;
    if (mode == 3) rtgetin(input.data(), this, inChanCount * chunkFrames);
    const int frames = mode == 2 ? chunkFrames / 2 : chunkFrames;
    // Writing nothing costs nothing: what a benchmark of this mode measures
    // is the engine's own work per note.
    if (mode == 1) {
      frameCursor += frames;
      return frames;
    }
    for (int i = 0; i < frames; ++i) {
      if (mode == 6 && frameCursor == failAt) throw std::runtime_error("FRAMEPROBE fails here");
      const float value = valueAt(i);
      std::fill(frame.begin(), frame.end(), value);
      rtaddout(frame.data());
      ++frameCursor;
    }
    return frames;
  }

 private:
  float valueAt(int i) {
    switch (mode) {
      case 3:
        return input[std::size_t(i) * std::size_t(inChanCount)];
      case 4: {
        double p[4] = {};
        update(p, 4, 1u << 3);
        return float(p[3]);
      }
      case 5: {
        int length = 0;
        double* t = getPFieldTable(3, &length);
        return t && frameCursor < length ? float(t[frameCursor]) : -1.0f;
      }
      default:
        return float(frameCursor + 1);
    }
  }

  int mode = 0;
  int nargs = 0;
  int failAt = 0;
  std::vector<float> input;
  std::vector<float> frame;  // one output frame, for the modes that write
};

VEMORA_EXPORT Instrument* makeFRAMEPROBE() {
  Instrument* inst = new FRAMEPROBE();
  inst->set_bus_config("FRAMEPROBE");
  return inst;
}

extern "C" VEMORA_EXPORT void rtprofile() {
  static rt_item this_rt = {nullptr, makeFRAMEPROBE, "FRAMEPROBE"};
  if (addrtInst(&this_rt) == -1) merror("FRAMEPROBE");
}
