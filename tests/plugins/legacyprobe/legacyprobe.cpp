// legacyprobe: test note functions for the legacy note interface.
#include <cstddef>
#include <vector>

#include "Instrument.h"
#include "legacy_note.h"

namespace {

// p0 out start, p1 in start, p2 dur, p3 samples per read: copies the input
// through bgetin/baddout in reads that need not be whole frames.
double lp_copy(float* p, int, double*) {
  const int frames = setnote(p[1], p[2], 0);
  setnote(p[0], p[2], 1);
  if (sfdesc[0] != sfdesc[1]) return -1.0;
  const int step = int(p[3]);
  std::vector<float> buf(static_cast<std::size_t>(step));
  for (int left = frames * sfdesc[0]; left > 0; left -= step) {
    const int n = left < step ? left : step;
    bgetin(buf.data(), 0, n);
    baddout(buf.data(), 1, n);
  }
  endnote(1);
  return 0.0;
}

// p0 start, p1 dur, p2 extra frames written past the end, p3 frames to step
// back before writing a second pass of 1.0: frame values are index + 1.
double lp_frames(float* p, int, double*) {
  const int frames = setnote(p[0], p[1], 1);
  const int channels = sfdesc[1];
  std::vector<float> frame(static_cast<std::size_t>(channels));
  for (int i = 0; i < frames + int(p[2]); ++i) {
    for (float& s : frame) s = float(i + 1);
    addoutpointer[1](frame.data(), 1);
  }
  const int back = int(p[3]);
  if (back > 0) {
    outrepos(-back, 1);
    for (float& s : frame) s = 1000.0f;
    for (int i = 0; i < back; ++i) addoutpointer[1](frame.data(), 1);
  }
  endnote(1);
  return double(frames);
}

// Refuses the note after placing it; writing afterwards would show that die
// returned into the note.
double lp_die(float* p, int, double*) {
  setnote(p[0], p[1], 1);
  die("lp_die", "Refused on purpose.");
  std::vector<float> frame(std::size_t(sfdesc[1]), 1.0f);
  addoutpointer[1](frame.data(), 1);
  endnote(1);
  return 99.0;
}

// p0 out start, p1 in start, p2 dur, p3 input frames per output frame:
// reads the input through getsample until it fails.
double lp_sample(float* p, int, double*) {
  getsetnote(p[1], p[2], 0);
  const int frames = setnote(p[0], p[2], 1);
  std::vector<float> in(static_cast<std::size_t>(sfdesc[0]));
  std::vector<float> out(static_cast<std::size_t>(sfdesc[1]));
  int i = 0;
  for (; i < frames; ++i) {
    if (getsample(double(i) * double(p[3]), in.data(), 0) == 0) break;
    for (float& s : out) s = in[0];
    addoutpointer[1](out.data(), 1);
  }
  endnote(1);
  return double(i);
}

// A score function: p0 + p1 + 1000 x the count; p4 reads 0 when absent.
double lp_sum(float* p, int n, double* pp) { return pp[0] + double(p[1]) + 1000.0 * n + pp[4]; }

// Inverse moves of the input position: reads p2 samples, steps back p3
// frames, and returns the first sample read after the step.
double lp_reread(float* p, int, double*) {
  setnote(p[0], p[1], 0);
  std::vector<float> buf(std::size_t(p[2]) + 1);
  bgetin(buf.data(), 0, int(p[2]));
  inrepos(-int(p[3]), 0);
  bgetin(buf.data(), 0, 1);
  return buf[0];
}

// A score function that cannot answer.
double lp_refuse(float*, int n, double*) {
  if (n < 2) die("lp_refuse", "Needs two arguments, got %d.", n);
  return 1.0;
}

}  // namespace

extern "C" VEMORA_EXPORT int profile() {
  addLegacyfunc("lp_copy", lp_copy);
  addLegacyfunc("lp_frames", lp_frames);
  addLegacyfunc("lp_die", lp_die);
  addLegacyfunc("lp_sample", lp_sample);
  addLegacyfunc("lp_sum", lp_sum);
  addLegacyfunc("lp_reread", lp_reread);
  addLegacyfunc("lp_refuse", lp_refuse);
  return 0;
}
