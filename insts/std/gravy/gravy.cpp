#include "gravy.h"

#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

#include "legacy_note.h"
#include "pfield_int.h"
#include "wavekit.h"

namespace {

constexpr const char* kName = "gravy";
constexpr int kInput = 0;
constexpr int kOutput = 1;
// bgetin and baddout count samples in an int, and the engine holds at most
// 2^28 samples (1 GiB) of a legacy note's output: a grain's arrays stay
// within that too, so an absurd window is refused before it takes gigabytes.
constexpr double kMaxArraySamples = double(1 << 28);

// Takes the array for the whole note; the vector is released however the
// note ends, die included.
bool take(std::vector<float>& array, size_t samples) noexcept {
  try {
    array.assign(samples, 0.0f);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// Whole part of the read position at the last frame of a grain: the position
// grows by ratio per frame, summed in double exactly as the grain loop does.
int64_t lastWholeFrame(int grainFrames, float ratio) {
  double position = 0.0;
  for (int i = 1; i < grainFrames; ++i) position += ratio;
  return int64_t(position);
}

double gravy(float* p, int, double*) {
  const int grainFrames = setnote(p[1], p[3], kInput);
  // A placement the engine refused has been reported by it already.
  if (grainFrames < 0) return 0.0;
  if (setnote(p[0], p[2], kOutput) < 0) return 0.0;

  const float stretchedInput = p[2] * p[5];
  const float ratio = transpose(p[6]);

  double* window = floc(1);
  if (!window) return die(kName, "You haven't made a window envelope function (table 1).");
  float windowTabs[2];
  tableset(SR(), p[3], fsize(1), windowTabs);
  // A grain of no frames would never move the output on.
  if (grainFrames < 1) return die(kName, "The window (p3) must be at least one frame long.");

  const int inChannels = sfdesc[kInput];
  const int outChannels = sfdesc[kOutput];
  if (!(p[7] > -1.0f && p[7] < float(inChannels)))
    return die(kName, "You asked for channel %d of a %d-channel file.", truncSaturating(std::trunc(p[7])), inChannels);
  const int channel = int(p[7]);

  // The grain reads up to two frames past the whole part of its last
  // position (more than input samples per grain covers at ratios of 1 and
  // below), and whole frames only, so that the reposition below leaves the
  // read position on a frame boundary and every grain reads the same channel.
  const float grainInputFrames = p[3] * SR() * ratio;
  const double inputSamples = std::floor(double(inChannels) * (double(grainInputFrames) + 1.0));
  if (!(inputSamples <= kMaxArraySamples)) return die(kName, "Error allocating input array... sorry!");
  const int64_t coveredFrames = (int64_t(inputSamples) + inChannels - 1) / inChannels;
  const int64_t neededFrames = lastWholeFrame(grainFrames, ratio) + 3;
  const int64_t readFrames = neededFrames > coveredFrames ? neededFrames : coveredFrames;
  if (double(readFrames) * inChannels > kMaxArraySamples) return die(kName, "Error allocating input array... sorry!");
  const int readSamples = int(readFrames) * inChannels;
  std::vector<float> input;
  if (!take(input, size_t(readSamples))) return die(kName, "Error allocating input array... sorry!");

  // Channels past 1 of a wider output stay at the zeros written here.
  const double outputSamples = double(outChannels) * double(grainFrames);
  if (outputSamples > kMaxArraySamples) return die(kName, "Error allocating output array... sorry!");
  std::vector<float> output;
  if (!take(output, size_t(outputSamples))) return die(kName, "Error allocating output array... sorry!");

  const double grainCount = double(stretchedInput) / (double(p[3]) * 0.5) + 1.0;
  const int grains = grainCount >= 1.0 ? truncSaturating(std::floor(grainCount)) : 0;
  const int half = grainFrames / 2;
  const int inputHop = truncSaturating(std::floor(half * (1.0 / double(p[5]))));
  const int inputReposition = truncSaturating(double(inputHop) - double(readFrames));
  // A control rate above the sampling rate reads the envelope every frame.
  const float periodFrames = SR() / float(resetval);
  const int ctrlPeriod = periodFrames >= 1.0f ? truncSaturating(periodFrames) : 1;

  const float amplitude = p[4];
  const float pctLeft = p[8];
  const float* in = input.data() + channel;
  for (int grain = 0; grain < grains; ++grain) {
    bgetin(input.data(), kInput, readSamples);
    double y0 = in[0];
    double y1 = in[inChannels];
    double y2 = in[2 * inChannels];
    int64_t nextFrame = 3;
    int64_t consumed = 0;
    int64_t whole = 0;
    double position = 0.0;
    double fraction = 0.0;
    int ctrlCountdown = 0;
    float amp = 0.0f;
    float* frame = output.data();
    for (int i = 0; i < grainFrames; ++i, frame += outChannels) {
      if (ctrlCountdown == 0) {
        ctrlCountdown = ctrlPeriod - 1;
        amp = float(tablei(i, window, windowTabs) * amplitude);
      } else {
        --ctrlCountdown;
      }
      while (consumed < whole) {
        y0 = y1;
        y1 = y2;
        y2 = in[nextFrame * inChannels];
        ++nextFrame;
        ++consumed;
      }
      const float out = float(interp(y0, y1, y2, fraction)) * amp;
      if (outChannels >= 2) {
        frame[1] = float(out * (1.0 - double(pctLeft)));
        frame[0] = out * pctLeft;
      } else {
        frame[0] = out;
      }
      position += ratio;
      whole = int64_t(position);
      fraction = position - double(float(whole));
    }
    baddout(output.data(), kOutput, int(outputSamples));
    inrepos(inputReposition, kInput);
    outrepos(-half, kOutput);
  }
  endnote(kOutput);
  return 0.0;
}

}  // namespace

extern "C" VEMORA_EXPORT double interp(double y0, double y1, double y2, double x) {
  const double halfY0 = y0 * 0.5;
  const double halfY2 = y2 * 0.5;
  return y0 + x * (2.0 * y1 + halfY0 * -3.0 - halfY2) + x * x * (halfY0 - y1 + halfY2);
}

extern "C" VEMORA_EXPORT float transpose(float interval) {
  const float octaves = std::trunc(interval);
  const double pitchClasses = double(interval - octaves) / 0.12;
  const float exponent = float(double(octaves) + pitchClasses);
  return float(std::pow(2.0, double(exponent)));
}

extern "C" VEMORA_EXPORT int profile() {
  addLegacyfunc("gravy", gravy);
  return 0;
}

VEMORA_PLUGIN_ABOUT("legacy note", "Transposes and time-stretches a passage of the input by overlapping grains");
