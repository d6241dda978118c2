#include "ResampledSoundInput.h"

#include <samplerate.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

#include "MemoryBudget.h"

namespace vemora {

namespace {

// libsamplerate's best sinc: flat to 96 % of the lower Nyquist frequency,
// its images and aliases some 140 dB down.
constexpr int kConverter = SRC_SINC_BEST_QUALITY;
// How far, in input frames, that filter reaches on each side of a sample
// when it does not shrink the band (it reaches 143), with room to spare;
// shrinking the band by a ratio widens it as much.
constexpr double kFilterReachFrames = 160.0;
constexpr int64_t kLeastBlockFrames = 4096;
constexpr int kMostSlots = 8;
constexpr int kFeedFrames = 1024;  // input frames handed to the converter at a time

struct ConverterCloser {
  void operator()(SRC_STATE* state) const { src_delete(state); }
};

int64_t ceilDiv(int64_t a, int64_t b) { return (a + b - 1) / b; }

// The render's rate is L/M times the file's, in lowest terms. Output is made
// in blocks of a whole number of L frames, each the conversion of a whole
// number of M input frames, so every block starts on an input frame with
// the converter's phase at zero. Each block is converted afresh from a
// lead-in of input before it (a whole number of M frames too, discarded
// once converted): a block is then the same samples however the notes
// came to read it, in order, from the middle or again after it left the
// cache, and random access gives what reading straight through gives.
class ResampledSoundInput final : public SoundInput {
 public:
  ResampledSoundInput(std::shared_ptr<SoundInput> input, int renderRate, MemoryBudget* budget)
      : source(std::move(input)), channelCount(source->channels()), rateHz(renderRate) {
    const int64_t sourceRate = std::llround(source->sampleRate());
    const int64_t common = std::gcd(int64_t(renderRate), sourceRate);
    const int64_t up = renderRate / common, down = sourceRate / common;
    ratio = double(renderRate) / double(sourceRate);
    if (!src_is_valid_ratio(ratio))
      throw SoundFileError("rtinput: cannot resample \"" + source->name() + "\" from " + std::to_string(sourceRate) +
                           " Hz to " + std::to_string(renderRate) + " Hz: the rates lie more than 256 times apart");
    blockFrames = up * ceilDiv(kLeastBlockFrames, up);
    blockInputFrames = blockFrames / up * down;
    leadInputFrames = down * ceilDiv(int64_t(std::ceil(kFilterReachFrames / std::min(ratio, 1.0))), down);
    leadFrames = leadInputFrames / down * up;
    // In 128 bits: a header may claim more frames than any file holds.
    const __int128 frames = (__int128(source->frames()) * up + down - 1) / down;
    frameCount = int64_t(std::min<__int128>(frames, std::numeric_limits<int64_t>::max() / 4));

    slotCount = int(std::clamp<int64_t>(kMostSlots * kLeastBlockFrames / blockFrames, 2, kMostSlots));
    const size_t samples = size_t(slotCount + 1) * size_t(blockFrames) * size_t(channelCount) +
                           size_t(leadFrames + kFeedFrames) * size_t(channelCount);
    if (budget)
      charge = budget->take(samples * sizeof(float), "rtinput: resampling \"" + source->name() + "\" (" +
                                                         std::to_string(channelCount) + " channels)");
    cache.resize(size_t(slotCount) * size_t(blockFrames) * size_t(channelCount));
    converted.resize(size_t(leadFrames + blockFrames) * size_t(channelCount));
    fed.resize(size_t(kFeedFrames) * size_t(channelCount));
    slots.assign(size_t(slotCount), Slot{});
    int error = 0;
    converter.reset(src_new(kConverter, channelCount, &error));
    if (!converter) throw SoundFileError("rtinput: cannot resample \"" + source->name() + "\": " + src_strerror(error));
  }

  int channels() const override { return channelCount; }
  double sampleRate() const override { return rateHz; }
  int64_t frames() const override { return frameCount; }
  const std::string& name() const override { return source->name(); }
  std::optional<FileIdentity> fileIdentity() const override { return source->fileIdentity(); }
  void watch(std::function<void(const std::string&)> onChange) override { source->watch(std::move(onChange)); }
  const std::shared_ptr<SoundInput>& original() const { return source; }

  void read(int64_t startFrame, int count, float* dst) override {
    for (int done = 0; done < count;) {
      const int64_t frame = startFrame + done;
      if (frame < 0 || frame >= frameCount) {
        const int64_t edge = frame < 0 ? 0 : std::numeric_limits<int64_t>::max();
        const int n = int(std::min<int64_t>(count - done, edge - frame));
        std::fill_n(dst + size_t(done) * size_t(channelCount), size_t(n) * size_t(channelCount), 0.0f);
        done += n;
        continue;
      }
      const int64_t block = frame / blockFrames;
      const int64_t offset = frame - block * blockFrames;
      const int n = int(std::min({int64_t(count - done), blockFrames - offset, frameCount - frame}));
      const float* src = slotData(slotFor(block)) + offset * channelCount;
      std::copy_n(src, size_t(n) * size_t(channelCount), dst + size_t(done) * size_t(channelCount));
      done += n;
    }
  }

 private:
  struct Slot {
    int64_t block = -1;
    uint64_t lastUse = 0;
  };

  float* slotData(int slot) { return cache.data() + size_t(slot) * size_t(blockFrames) * size_t(channelCount); }

  int slotFor(int64_t block) {
    int victim = 0;
    for (int s = 0; s < slotCount; ++s) {
      if (slots[size_t(s)].block == block) {
        slots[size_t(s)].lastUse = ++useClock;
        return s;
      }
      if (slots[size_t(s)].lastUse < slots[size_t(victim)].lastUse) victim = s;
    }
    convert(block, slotData(victim));
    slots[size_t(victim)] = {block, ++useClock};
    return victim;
  }

  // Converts the block's lead-in and the block, and keeps the block. The
  // converter holds back the input its filter reaches ahead, so input is fed
  // until the output is complete. Input before the file's start or past its
  // end reads as silence.
  void convert(int64_t block, float* dst) {
    src_reset(converter.get());
    const int64_t wanted = leadFrames + blockFrames;
    int64_t made = 0;
    int64_t next = block * blockInputFrames - leadInputFrames;
    long held = 0, used = 0;
    while (made < wanted) {
      if (used == held) {
        source->read(next, kFeedFrames, fed.data());
        next += kFeedFrames;
        held = kFeedFrames;
        used = 0;
      }
      SRC_DATA data{};
      data.data_in = fed.data() + used * channelCount;
      data.input_frames = held - used;
      data.data_out = converted.data() + made * channelCount;
      data.output_frames = long(wanted - made);
      data.src_ratio = ratio;
      // With input to take and room to write, the converter always moves
      // on; should it not, the rest of the block stays silent.
      if (src_process(converter.get(), &data) != 0 || (data.input_frames_used == 0 && data.output_frames_gen == 0)) {
        std::fill(converted.begin() + made * channelCount, converted.end(), 0.0f);
        break;
      }
      used += data.input_frames_used;
      made += data.output_frames_gen;
    }
    std::copy_n(converted.data() + leadFrames * channelCount, size_t(blockFrames) * size_t(channelCount), dst);
  }

  std::shared_ptr<SoundInput> source;
  int channelCount;
  double rateHz;
  double ratio = 1.0;
  int64_t frameCount = 0;
  int64_t blockFrames = 0;       // output frames in a block: a multiple of L
  int64_t blockInputFrames = 0;  // the input frames they convert: a multiple of M
  int64_t leadFrames = 0;        // output frames of the lead-in, discarded
  int64_t leadInputFrames = 0;
  int slotCount = 0;
  MemoryCharge charge;
  std::vector<float> cache;
  std::vector<float> converted;  // one block's lead-in and the block
  std::vector<float> fed;        // input on its way to the converter
  std::vector<Slot> slots;
  uint64_t useClock = 0;
  std::unique_ptr<SRC_STATE, ConverterCloser> converter;
};

}  // namespace

std::unique_ptr<SoundInput> resampledSoundInput(std::shared_ptr<SoundInput> source, int renderRate,
                                                MemoryBudget* budget) {
  return std::make_unique<ResampledSoundInput>(std::move(source), renderRate, budget);
}

std::shared_ptr<SoundInput> unresampled(const std::shared_ptr<SoundInput>& input) {
  if (const auto* resampled = dynamic_cast<const ResampledSoundInput*>(input.get())) return resampled->original();
  return input;
}

}  // namespace vemora
