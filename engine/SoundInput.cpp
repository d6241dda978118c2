#include "SoundInput.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <utility>

#include "MemoryBudget.h"

namespace vemora {

namespace {

FileIdentity identityFrom(const struct stat& st) {
  return {uint64_t(st.st_dev), uint64_t(st.st_ino), int64_t(st.st_size),
          int64_t(st.st_mtim.tv_sec) * 1000000000 + int64_t(st.st_mtim.tv_nsec)};
}

struct SndfileCloser {
  void operator()(SNDFILE* sf) const { sf_close(sf); }
};
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

// Lent to libsndfile with close_desc off: with it on, a failed sf_open_fd
// closes the descriptor too, leaving no single owner; here whoever opened it
// closes it.
struct FileDescriptor {
  explicit FileDescriptor(int fd) : fd(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
  FileDescriptor& operator=(FileDescriptor&&) = delete;
  ~FileDescriptor() {
    if (fd >= 0) ::close(fd);
  }
  int fd;
};

[[noreturn]] void refuse(const std::string& path, const std::string& reason) {
  throw SoundFileError("rtinput: cannot open \"" + path + "\": " + reason);
}

// libsndfile reads a WAV or AIFF file whose sound data ends before its
// header says as far as it goes, and notes in its log that the data chunk
// ("data" or "SSND") "should be" shorter.
bool cutShort(SNDFILE* file) {
  char log[16384] = {};
  sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);)
    if ((line.rfind("data", 0) == 0 || line.rfind("SSND", 0) == 0) && line.find("should be") != std::string::npos)
      return true;
  return false;
}

// Zeros the frames of [startFrame, startFrame + frameCount) that lie outside
// [0, totalFrames) and hands the inside part to copyInside(first, count, dst).
template <typename CopyInside>
void readWithin(int64_t startFrame, int frameCount, int64_t totalFrames, int channels, float* dst,
                CopyInside&& copyInside) {
  if (frameCount <= 0) return;
  const int64_t endFrame = startFrame + frameCount;
  const int64_t first = std::clamp<int64_t>(startFrame, 0, totalFrames);
  const int64_t last = std::clamp<int64_t>(endFrame, 0, totalFrames);
  if (last <= first) {
    std::fill(dst, dst + static_cast<int64_t>(frameCount) * channels, 0.0f);
    return;
  }
  std::fill(dst, dst + (first - startFrame) * channels, 0.0f);
  copyInside(first, last - first, dst + (first - startFrame) * channels);
  std::fill(dst + (last - startFrame) * channels, dst + (endFrame - startFrame) * channels, 0.0f);
}

class MemorySoundInput final : public SoundInput {
 public:
  MemorySoundInput(std::vector<float> interleaved, int channels, double sampleRate, std::string name)
      : samples(std::move(interleaved)), channelCount(channels), rateHz(sampleRate), label(std::move(name)) {
    if (channels < 1) refuse(label, "an input needs at least one channel");
    if (!(sampleRate > 0)) refuse(label, "the sampling rate must be positive");
    if (samples.size() % channels != 0) refuse(label, "the sample count is not a whole number of frames");
    frameCount = static_cast<int64_t>(samples.size()) / channelCount;
  }

  int channels() const override { return channelCount; }
  double sampleRate() const override { return rateHz; }
  int64_t frames() const override { return frameCount; }
  const std::string& name() const override { return label; }

  void read(int64_t startFrame, int count, float* dst) override {
    readWithin(startFrame, count, frameCount, channelCount, dst, [&](int64_t first, int64_t n, float* out) {
      const float* src = samples.data() + first * channelCount;
      std::copy(src, src + n * channelCount, out);
    });
  }

 private:
  std::vector<float> samples;
  int channelCount;
  double rateHz;
  std::string label;
  int64_t frameCount = 0;
};

// A sound file read through a few cached blocks aligned to blockFrames. Notes
// read in chunks of a block or less, often one frame at a time at fractional
// positions, and several notes may read the same file at different places in
// turn; seeking for each read costs little in WAV but decodes a whole block
// again in FLAC (hundreds of times slower for frame-by-frame reads), so every
// read is served from the cache and only a miss touches the file.
class FileSoundInput final : public SoundInput {
 public:
  static size_t cacheBytes(int channels) { return size_t(cacheSlots) * blockFrames * size_t(channels) * sizeof(float); }

  FileSoundInput(FileDescriptor descriptor, SndfilePtr file, const SF_INFO& info, std::string path,
                 const FileIdentity& identity, MemoryCharge charge)
      : descriptor(std::move(descriptor)),
        file(std::move(file)),
        channelCount(info.channels),
        rateHz(info.samplerate),
        frameCount(info.frames),
        path(std::move(path)),
        opened(identity),
        charge(std::move(charge)),
        cache(static_cast<size_t>(cacheSlots) * blockFrames * channelCount) {
    // FLAC written as a stream (and some other headers) leave the length
    // open; counting once here keeps frames() and the zeros past the end true.
    if (frameCount == SF_COUNT_MAX) frameCount = countFrames();
  }

  int channels() const override { return channelCount; }
  double sampleRate() const override { return rateHz; }
  int64_t frames() const override { return frameCount; }
  const std::string& name() const override { return path; }
  std::optional<FileIdentity> fileIdentity() const override { return opened; }
  void watch(std::function<void(const std::string&)> onChange) override { changeListener = std::move(onChange); }

  void read(int64_t startFrame, int count, float* dst) override {
    readWithin(startFrame, count, frameCount, channelCount, dst, [&](int64_t first, int64_t n, float* out) {
      while (n > 0) {
        const int64_t block = first / blockFrames;
        const int64_t offset = first - block * blockFrames;
        const int64_t take = std::min<int64_t>(n, blockFrames - offset);
        const float* src = slotData(slotFor(block)) + offset * channelCount;
        out = std::copy(src, src + take * channelCount, out);
        first += take;
        n -= take;
      }
    });
  }

 private:
  static constexpr int64_t blockFrames = 4096;
  static constexpr int cacheSlots = 8;

  struct Slot {
    int64_t block = -1;
    uint64_t lastUse = 0;
  };

  float* slotData(int slot) { return cache.data() + static_cast<size_t>(slot) * blockFrames * channelCount; }

  int slotFor(int64_t block) {
    int victim = 0;
    for (int s = 0; s < cacheSlots; ++s) {
      if (slots[s].block == block) {
        slots[s].lastUse = ++useClock;
        return s;
      }
      if (slots[s].lastUse < slots[victim].lastUse) victim = s;
    }
    load(victim, block);
    return victim;
  }

  int64_t countFrames() {
    int64_t total = 0;
    if (sf_seek(file.get(), 0, SEEK_SET) != 0) return 0;
    const int64_t chunk = static_cast<int64_t>(cacheSlots) * blockFrames;
    while (const sf_count_t got = sf_readf_float(file.get(), cache.data(), chunk)) {
      if (got < 0) break;
      total += got;
    }
    filePosition = -1;
    return total;
  }

  // Another program may cut the file or write into it while notes read it.
  // Each visit to the file looks whether it still stands as it did when it
  // was opened, and says so once when it does not.
  void checkUnchanged(int64_t frame) {
    if (changeNoted) return;
    struct stat st {};
    if (::fstat(descriptor.fd, &st) != 0) return;
    const FileIdentity now = identityFrom(st);
    if (now.unchangedFrom(opened)) return;
    changeNoted = true;
    const std::string at = std::to_string(frame);
    const std::string text = now.size < opened.size
                                 ? "\"" + path + "\" was cut shorter while the render read it (noticed at frame " + at +
                                       "): what it no longer holds is read as silence"
                                 : "\"" + path + "\" was changed while the render read it (noticed at frame " + at +
                                       "): the sound from there on may not be the one the score was written for";
    if (changeListener) changeListener(text);
  }

  // A file cut short after its header promised more frames yields fewer here;
  // what is missing reads as silence rather than failing a note mid-render.
  void load(int slot, int64_t block) {
    checkUnchanged(block * blockFrames);
    float* data = slotData(slot);
    const int64_t first = block * blockFrames;
    const int64_t wanted = std::min(blockFrames, frameCount - first);
    sf_count_t got = 0;
    // A note reading straight on needs no seek, which in FLAC costs a decode.
    if (first == filePosition || sf_seek(file.get(), first, SEEK_SET) == first)
      got = std::max<sf_count_t>(0, sf_readf_float(file.get(), data, wanted));
    filePosition = got == wanted ? first + got : -1;
    std::fill(data + got * channelCount, data + blockFrames * channelCount, 0.0f);
    slots[slot] = {block, ++useClock};
  }

  FileDescriptor descriptor;  // outlives file: sf_close runs first
  SndfilePtr file;
  int channelCount;
  double rateHz;
  int64_t frameCount;
  std::string path;
  FileIdentity opened;
  MemoryCharge charge;
  std::vector<float> cache;
  std::function<void(const std::string&)> changeListener;
  bool changeNoted = false;
  Slot slots[cacheSlots];
  uint64_t useClock = 0;
  int64_t filePosition = 0;  // frame libsndfile reads next; -1 when unknown
};

}  // namespace

std::string plainSndfileText(const std::string& text) {
  if (text.find("SF_INFO struct incomplete") != std::string::npos)
    return "its header gives a sampling rate, channel count or length that cannot be (0 Hz, say)";
  if (text == "Channel count is zero.") return "its header gives 0 channels";
  std::string plain = text;
  const std::string system = "System error : ";
  if (plain.compare(0, system.size(), system) == 0) plain.erase(0, system.size());
  if (!plain.empty() && plain.back() == '.') plain.pop_back();
  return plain;
}

std::optional<FileIdentity> identityOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return identityFrom(st);
}

std::unique_ptr<SoundInput> openSoundInput(const std::string& path, std::string* warning, MemoryBudget* budget) {
  // Opening the descriptor ourselves gives the system's own reason for a
  // missing or unreadable file, and lets fstat refuse what libsndfile would
  // misreport (a folder) or block on (a FIFO with no writer, hence O_NONBLOCK).
  FileDescriptor descriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  const int fd = descriptor.fd;
  if (fd < 0) refuse(path, std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0) refuse(path, std::strerror(errno));
  if (S_ISDIR(st.st_mode)) refuse(path, "it is a folder");
  if (!S_ISREG(st.st_mode)) refuse(path, "not a regular file");
  if (st.st_size == 0) refuse(path, "not a sound file libsndfile can read: the file is empty");
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);

  SF_INFO info{};
  SndfilePtr file(sf_open_fd(fd, SFM_READ, &info, SF_FALSE));
  if (!file) refuse(path, "not a sound file libsndfile can read: " + plainSndfileText(sf_strerror(nullptr)));
  if (info.channels < 1 || info.samplerate < 1 || info.frames < 0)
    refuse(path, "the file's header gives no channels, sampling rate or length");
  if (!info.seekable) refuse(path, "libsndfile cannot seek in it, and notes need random access");
  sf_command(file.get(), SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
  if (warning && cutShort(file.get()))
    *warning = "\"" + path + "\" is cut short (its header promises more sound than the file holds): its " +
               std::to_string(info.frames) + " frames are read, then silence";
  MemoryCharge charge;
  if (budget)
    charge = budget->take(FileSoundInput::cacheBytes(info.channels),
                          "rtinput: reading \"" + path + "\" (" + std::to_string(info.channels) + " channels)");
  return std::make_unique<FileSoundInput>(std::move(descriptor), std::move(file), info, path, identityFrom(st),
                                          std::move(charge));
}

std::unique_ptr<SoundInput> memorySoundInput(std::vector<float> interleaved, int channels, double sampleRate,
                                             std::string name) {
  return std::make_unique<MemorySoundInput>(std::move(interleaved), channels, sampleRate, std::move(name));
}

}  // namespace vemora
