// SLOWPROBE: a test instrument that renders slower than real time, so that
// a played render falls behind the device (underruns) on any machine.
//
// p0 start (s)  p1 duration (s)  p2 slowness: each run takes p2 times the
// chunk's own duration (2: half real time). Writes 0.25 on every channel.
#include <chrono>
#include <thread>
#include <vector>

#include "Instrument.h"

class SLOWPROBE : public Instrument {
 public:
  int init(double* p, int) override {
    slowness = p[2];
    if (rtsetoutput(float(p[0]), float(p[1]), this) == -1) return -1;
    return noteFrames;
  }

  int run() override {
    std::this_thread::sleep_for(std::chrono::duration<double>(slowness * chunkFrames / SR));
    std::vector<float> frame(static_cast<std::size_t>(outChanCount), 0.25f);
    for (int i = 0; i < chunkFrames; ++i) rtaddout(frame.data());
    return chunkFrames;
  }

 private:
  double slowness = 1.0;
};

VEMORA_EXPORT Instrument* makeSLOWPROBE() {
  Instrument* inst = new SLOWPROBE();
  inst->set_bus_config("SLOWPROBE");
  return inst;
}

extern "C" VEMORA_EXPORT void rtprofile() {
  static rt_item this_rt = {nullptr, makeSLOWPROBE, "SLOWPROBE"};
  if (addrtInst(&this_rt) == -1) merror("SLOWPROBE");
}
