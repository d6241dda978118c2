#include "SoundOutput.h"

#include <fcntl.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <utility>

#include "TpdfDither.h"

namespace vemora {

namespace {

// Samples are gathered into a buffer of this many bytes and handed to
// libsndfile a buffer at a time, which writes each hand-over with one system
// call (a render hands over blocks of a few kilobytes: thousands of calls a
// minute otherwise). The writer's memory stays this size however long the
// render.
constexpr int kBufferBytes = 256 << 10;
// The JUNK chunk a float WAV is written with, which gives up two of its bytes
// to the format chunk when the file is finished.
constexpr uint32_t kPadBytes = 4;
constexpr int64_t kWritebackBytes = int64_t(4) << 20;

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string folderOf(const std::string& path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  return folder.empty() ? "." : folder;
}

// WAV and AIFF count their sizes in 32 bits. A little is kept back for the
// header chunks, which the same counts include.
constexpr int64_t kPlainContainerBytes = int64_t(0xFFFFFFFF) - 65536;
// FLAC counts frames in 36 bits.
constexpr int64_t kFlacFrames = (int64_t(1) << 36) - 1;

int bytesPerSample(SampleFormat sample) {
  return sample == SampleFormat::Int16 ? 2 : sample == SampleFormat::Int24 ? 3 : 4;
}

std::string gibibytes(int64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f GiB", double(bytes) / double(int64_t(1) << 30));
  return text;
}

// The temporary's name: the final name with ".part-PID-N" appended, the
// name cut short first where the two together would pass the longest name
// the folder takes, so that any name the file system allows can be written.
std::string temporaryName(const std::string& finalPath, const std::string& suffix) {
  const std::filesystem::path path(finalPath);
  std::string name = path.filename().string();
  long longest = ::pathconf(folderOf(finalPath).c_str(), _PC_NAME_MAX);
  if (longest <= 0) longest = 255;
  if (name.size() + suffix.size() > size_t(longest))
    name.resize(suffix.size() < size_t(longest) ? size_t(longest) - suffix.size() : 1);
  return (path.parent_path() / (name + suffix)).string();
}

// Holds back SIGINT, SIGTERM and SIGHUP while it lives. One that arrives
// meanwhile is delivered when it ends, after the file is either committed
// or gone.
class HeldStopSignals {
 public:
  HeldStopSignals() {
    sigset_t held;
    sigemptyset(&held);
    sigaddset(&held, SIGINT);
    sigaddset(&held, SIGTERM);
    sigaddset(&held, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &held, &previous);
  }
  ~HeldStopSignals() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }
  HeldStopSignals(const HeldStopSignals&) = delete;
  HeldStopSignals& operator=(const HeldStopSignals&) = delete;

 private:
  sigset_t previous;
};

// Flushes a folder's entries (a rename in it) to the disk. A file system
// that cannot flush a folder says EINVAL; there is nothing more to do then.
int syncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int error = ::fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
  ::close(fd);
  return error;
}

}  // namespace

OutputFormat outputFormatFor(const std::string& path, const std::string& sampleText) {
  const std::string extension = lowerCase(std::filesystem::path(path).extension().string());
  OutputFormat format;
  int major = 0;
  if (extension == ".wav") {
    major = SF_FORMAT_WAV;
    format.container = "wav";
  } else if (extension == ".aif" || extension == ".aiff") {
    major = SF_FORMAT_AIFF;
    format.container = "aiff";
  } else if (extension == ".flac") {
    major = SF_FORMAT_FLAC;
    format.container = "flac";
  } else {
    throw SoundFileError("rtoutput: cannot tell the sound file format from \"" + path +
                         "\" (use .wav, .aif, .aiff or .flac)");
  }
  const bool flac = major == SF_FORMAT_FLAC;

  const std::string text = lowerCase(sampleText);
  if (text == "16") {
    format.sample = SampleFormat::Int16;
  } else if (text == "24" || (text.empty() && flac)) {
    format.sample = SampleFormat::Int24;
  } else if (text.empty() || text == "float") {
    if (flac) throw SoundFileError("rtoutput: FLAC cannot hold float samples (use 16 or 24)");
    format.sample = SampleFormat::Float32;
  } else {
    throw SoundFileError("rtoutput: unknown sample format \"" + sampleText + "\" (use 16, 24 or float)");
  }
  const int minor = format.sample == SampleFormat::Int16   ? SF_FORMAT_PCM_16
                    : format.sample == SampleFormat::Int24 ? SF_FORMAT_PCM_24
                                                           : SF_FORMAT_FLOAT;
  format.sndfileFormat = major | minor;
  return format;
}

namespace {

// A float WAV's PEAK chunk holds, for each channel, the largest |x| written
// and the first frame that holds it (frame 0 while every sample is 0).
struct FilePeak {
  float value = 0.0f;
  int64_t frame = 0;
};

bool finishPeakChunk(int fd, bool bigEndian, const std::vector<FilePeak>* peaks);

}  // namespace

struct SoundFileWriter::Impl {
  bool widenFormatChunk = false;  // a float WAV whose format chunk is widened when finished
  struct SndfileCloser {
    void operator()(SNDFILE* sf) const { sf_close(sf); }
  };

  ~Impl() { discard(); }

  [[noreturn]] void fail(const std::string& reason) const {
    throw SoundFileError("rtoutput: cannot write \"" + finalPath + "\": " + reason);
  }

  // Unless committed, nothing of this writer is left on disk.
  void discard() noexcept {
    file.reset();
    if (fd >= 0) ::close(fd);
    fd = -1;
    if (!tempPath.empty()) ::unlink(tempPath.c_str());
    tempPath.clear();
  }

  // The file's own name with the process and a counter appended: in the same
  // folder, so the final rename never crosses file systems, and unique, so two
  // renders of the same score (or a stale leftover) never share a temporary.
  void createTemporary() {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 1000; ++attempt) {
      std::string candidate =
          temporaryName(finalPath, ".part-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1)));
      // 0666 so that, once renamed, the file has the permissions the umask
      // gives any new file.
      fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        tempPath = std::move(candidate);
        return;
      }
      if (errno == EEXIST) continue;
      if (errno == ENOENT) fail("the folder \"" + folderOf(finalPath) + "\" does not exist");
      if (errno == ENOTDIR) fail("\"" + folderOf(finalPath) + "\" is not a folder");
      fail(std::strerror(errno));
    }
    fail("no free temporary name next to it");
  }

  // Float files keep overs (a later gain change can still recover them); only
  // NaN and infinities, which would poison any player, are replaced and counted.
  // A block of finite samples, the usual case, is copied as it is.
  void writeFloat(const float* src, int frames) {
    const size_t count = static_cast<size_t>(frames) * channels;
    float* out = floatScratch.data() + static_cast<size_t>(heldFrames) * channels;
    const bool finite = scanFinite(src, count, blockPeaks.data());
    for (int c = 0; c < channels; ++c) peaks[c] = std::max(peaks[c], blockPeaks[c]);
    if (finite) {
      std::memcpy(out, src, count * sizeof(float));
    } else {
      replaceNonFinite(src, out, count);
      if (writesRaw) largestMagnitudes(out, count, blockPeaks.data());
    }
    if (writesRaw) trackFilePeaks(out, frames);
  }

  void replaceNonFinite(const float* src, float* out, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      const float x = src[i];
      if (std::isnan(x)) {
        out[i] = 0.0f;
        ++clipped;
      } else if (std::isinf(x)) {
        out[i] = std::copysign(1.0f, x);
        ++clipped;
      } else {
        out[i] = x;
      }
    }
  }

  // libsndfile keeps a float file's PEAK chunk by comparing every sample in
  // turn, one long chain of dependent steps that cost a whole W0 render a
  // fifth of its time. A file written raw (see flush) has its peaks found
  // here instead: each channel's largest |x| in the block (blockPeaks, from
  // the scan for overs), and the first frame that holds it only when it
  // beats the channel's peak so far. The result is libsndfile's to the bit:
  // the same largest value, at its first frame.
  void trackFilePeaks(const float* samples, int frames) {
    const int64_t firstFrame = this->frames;  // frames before this block
    for (int c = 0; c < channels; ++c) {
      const float largest = blockPeaks[c];
      if (!(largest > filePeaks[c].value)) continue;
      int f = 0;
      while (f + 1 < frames && std::fabs(samples[static_cast<size_t>(f) * channels + c]) != largest) ++f;
      filePeaks[c] = {largest, firstFrame + f};
    }
  }

  // Each channel's largest |x| among count finite samples, into largest[]
  // (for a block whose overs were replaced).
  void largestMagnitudes(const float* src, size_t count, float* largest) const {
    using Float4 = float __attribute__((vector_size(16)));
    using Int4 = int32_t __attribute__((vector_size(16)));
    std::fill(largest, largest + channels, 0.0f);
    size_t i = 0;
    if (channels == 1 || channels == 2 || channels == 4) {
      Float4 high = {0.0f, 0.0f, 0.0f, 0.0f};
      for (; i + 4 <= count; i += 4) {
        Float4 x;
        std::memcpy(&x, src + i, sizeof x);
        const Float4 magnitude = (Float4)((Int4)x & 0x7fffffff);
        high = magnitude > high ? magnitude : high;
      }
      for (int lane = 0; lane < 4; ++lane) largest[lane % channels] = std::max(largest[lane % channels], high[lane]);
    }
    for (; i < count; i += size_t(channels))  // whole frames from here on
      for (int c = 0; c < channels; ++c) largest[c] = std::max(largest[c], std::fabs(src[i + size_t(c)]));
  }

  // Puts each channel's largest |x| among count samples into largest[] (NaN
  // left out, an infinity counted as such) and tells whether all of them are
  // finite. When the channels fit evenly into four lanes (1, 2 or 4 channels)
  // four samples are taken at a time; the maximum is the same in any order.
  bool scanFinite(const float* src, size_t count, float* largest) {
    using Float4 = float __attribute__((vector_size(16)));
    using Int4 = int32_t __attribute__((vector_size(16)));
    std::fill(largest, largest + channels, 0.0f);
    size_t i = 0;
    bool finite = true;
    if (channels == 1 || channels == 2 || channels == 4) {
      Float4 high = {0.0f, 0.0f, 0.0f, 0.0f};
      Float4 poison = {0.0f, 0.0f, 0.0f, 0.0f};  // x * 0 is NaN exactly when x is not finite
      for (; i + 4 <= count; i += 4) {
        Float4 x;
        std::memcpy(&x, src + i, sizeof x);
        const Float4 magnitude = (Float4)((Int4)x & 0x7fffffff);
        const Int4 above = magnitude > high;  // false for NaN
        high = (Float4)(((Int4)magnitude & above) | ((Int4)high & ~above));
        poison += x * 0.0f;
      }
      for (int lane = 0; lane < 4; ++lane) {
        const int c = lane % channels;
        largest[c] = std::max(largest[c], high[lane]);
        finite = finite && poison[lane] == 0.0f;
      }
    }
    for (; i < count; i += size_t(channels)) {  // whole frames from here on
      for (int c = 0; c < channels; ++c) {
        const float x = src[i + size_t(c)];
        if (std::isnan(x)) {
          finite = false;
          continue;
        }
        largest[c] = std::max(largest[c], std::fabs(x));
        finite = finite && !std::isinf(x);
      }
    }
    return finite;
  }

  // The conversion to integers is done here rather than by libsndfile, which
  // scales by 2^(bits-1) - 1 on writing but divides by 2^(bits-1) on reading
  // (so a sample read and written back would drift by a step) and wraps what
  // lies beyond full scale. Scaling by 2^(bits-1) matches the reader exactly;
  // +1.0 itself lands one step below, on the largest code.
  void writeInt(const float* src, int frames) {
    const int bits = format.sample == SampleFormat::Int16 ? 16 : 24;
    const double scale = static_cast<double>(1 << (bits - 1));
    const long largest = (1L << (bits - 1)) - 1;
    const int32_t leftJustify = 1 << (32 - bits);  // libsndfile's int API is 32-bit full scale
    int32_t* out = intScratch.data() + static_cast<size_t>(heldFrames) * channels;
    for (int i = 0; i < frames; ++i) {
      for (int c = 0; c < channels; ++c, ++src, ++out) {
        float x = *src;
        if (std::isnan(x)) {
          x = 0.0f;
          ++clipped;
        } else {
          peaks[c] = std::max(peaks[c], std::fabs(x));
          if (x > 1.0f || x < -1.0f) {
            x = std::copysign(1.0f, x);
            ++clipped;
          }
        }
        double scaled = x * scale;
        if (dither) scaled += dither->next();
        // Dither may carry full scale a step past either end.
        const long code = std::clamp(std::lrint(scaled), -largest - 1, largest);
        *out = static_cast<int32_t>(code) * leftJustify;
      }
    }
  }

  // Hands the gathered frames to libsndfile.
  void flush() {
    if (heldFrames == 0) return;
    const sf_count_t n = heldFrames;
    heldFrames = 0;
    if (writesRaw) {
      const sf_count_t bytes = n * channels * static_cast<sf_count_t>(sizeof(float));
      if (sf_write_raw(file.get(), floatScratch.data(), bytes) != bytes) failWrite();
    } else {
      const sf_count_t written = format.sample == SampleFormat::Float32
                                     ? sf_writef_float(file.get(), floatScratch.data(), n)
                                     : sf_writef_int(file.get(), intScratch.data(), n);
      if (written != n) failWrite();
    }
    startWriteback(n * channels * static_cast<int64_t>(sizeof(float)));
  }

  // commit() waits until the file is on the disk. Asking the system to start
  // writing it out every few megabytes lets the disk work while the render
  // goes on, so that wait is short. A hint only: its failure changes nothing.
  void startWriteback(int64_t bytes) {
#ifdef __linux__
    pendingBytes += bytes;
    if (pendingBytes >= kWritebackBytes) {
      ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
      pendingBytes = 0;
    }
#else
    (void)bytes;
#endif
  }

  // The container was chosen for the length the caller expected; a stream
  // that outgrows it stops here, before its header would count wrong.
  void checkRoom(int64_t moreFrames) {
    if (frames + moreFrames <= frameLimit) return;
    failed = true;
    fail(roomText());
  }

  std::string roomText() const {
    if (format.container == "flac") return "a FLAC file holds at most 2^36 frames";
    const std::string largest = gibibytes(kPlainContainerBytes);
    if (format.container == "aiff")
      return "an AIFF file holds at most " + largest + " of sound; write a .wav (RF64 past 4 GiB) or a .flac";
    return "the render outgrew the " + largest + " a plain WAV file holds";
  }

  // Reads the header that closing wrote and checks that it counts the
  // frames that were written: the last word on a header update that
  // libsndfile may not report as failed.
  void verifyHeader() const {
    if (::lseek(fd, 0, SEEK_SET) != 0) fail(std::string("cannot read it back: ") + std::strerror(errno));
    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndfileCloser> check(sf_open_fd(fd, SFM_READ, &info, SF_FALSE));
    if (!check) fail("its header could not be read back after writing; the disk may be full or failing");
    // A FLAC stream of no frames counts none: libsndfile reads that as "unknown".
    const bool emptyFlac = format.container == "flac" && frames == 0 && info.frames == SF_COUNT_MAX;
    if ((info.frames != frames && !emptyFlac) || info.channels != channels)
      fail("its header counts " + std::to_string(info.frames) + " frames of " + std::to_string(info.channels) +
           " channels, not the " + std::to_string(frames) + " of " + std::to_string(channels) +
           " written; the disk may be full or failing");
  }

  // Puts the temporary under the final name. A file already there is kept
  // under a second name until the folder is on the disk, so that a failure
  // at any step leaves it where it was.
  void publish() {
    struct stat st {};
    const bool earlier = ::lstat(finalPath.c_str(), &st) == 0;
    const std::string backup = tempPath + "-old";
    const bool kept = earlier && ::link(finalPath.c_str(), backup.c_str()) == 0;
    if (std::rename(tempPath.c_str(), finalPath.c_str()) != 0) {
      const int error = errno;
      if (kept) ::unlink(backup.c_str());
      fail(std::strerror(error));
    }
    tempPath.clear();
    if (const int error = syncFolder(folderOf(finalPath))) {
      std::string reason = "the folder could not be flushed to the disk: " + std::string(std::strerror(error));
      if (kept)
        std::rename(backup.c_str(), finalPath.c_str());
      else if (!earlier)
        ::unlink(finalPath.c_str());
      else  // a file system without hard links: the earlier file is gone
        reason += "; the new file is in place but may not survive a crash";
      fail(reason);
    }
    if (kept) ::unlink(backup.c_str());
  }

  bool finishPeaks() const { return finishPeakChunk(fd, format.container == "aiff", writesRaw ? &filePeaks : nullptr); }

  [[noreturn]] void failWrite() {
    // A partial file must never be renamed into place by a later commit.
    failed = true;
    fail(plainSndfileText(sf_strerror(file.get())));
  }

  std::string finalPath;
  std::string tempPath;
  OutputFormat format;
  int channels = 0;
  int fd = -1;
  std::unique_ptr<SNDFILE, SndfileCloser> file;
  std::vector<float> floatScratch;
  std::vector<int32_t> intScratch;
  std::vector<float> peaks;
  // A float WAV on a little-endian machine is written as it lies in memory,
  // through sf_write_raw, its PEAK chunk filled in from filePeaks at the end.
  bool writesRaw = false;
  std::vector<FilePeak> filePeaks;
  std::vector<float> blockPeaks;     // each channel's largest |x| in the block written last
  std::optional<TpdfDither> dither;  // integer formats only
  int64_t clipped = 0;
  int64_t frames = 0;
  int64_t frameLimit = std::numeric_limits<int64_t>::max();  // what the container can count
  int64_t pendingBytes = 0;                                  // handed over since writeback was last started
  int bufferFrames = 0;                                      // frames the buffer holds
  int heldFrames = 0;                                        // frames gathered, not yet handed to libsndfile
  bool committed = false;
  bool failed = false;
};

SoundFileWriter::SoundFileWriter(const std::string& path, const OutputFormat& format, int channels, int sampleRate,
                                 int64_t expectedFrames)
    : impl(std::make_unique<Impl>()) {
  Impl& w = *impl;
  w.finalPath = path;
  w.format = format;
  w.channels = channels;
  if (channels < 1) w.fail("an output needs at least one channel");
  if (sampleRate < 1) w.fail("the sampling rate must be positive");

  // Past 4 GiB a WAV file needs RF64's 64-bit sizes. RF64 headers differ
  // from WAV ones even when they downgrade, so a render known to fit stays
  // plain WAV, byte for byte what it always was.
  const int64_t frameBytes = int64_t(channels) * bytesPerSample(format.sample);
  const int64_t plainFrames = kPlainContainerBytes / frameBytes;
  const bool unknownLength = expectedFrames == kLengthUnknown;
  // A render may run a block or so past the length it expected: the slack
  // keeps such a render off the limit.
  const int64_t slackFrames = int64_t(1) << 20;
  const bool rf64 = format.container == "wav" && (unknownLength || expectedFrames > plainFrames - slackFrames);
  if (format.container == "flac")
    w.frameLimit = kFlacFrames;
  else if (!rf64)
    w.frameLimit = plainFrames;
  if (expectedFrames > w.frameLimit)
    w.fail("it would need " + gibibytes(expectedFrames * frameBytes) + ", but " + w.roomText());

  SF_INFO info{};
  info.channels = channels;
  info.samplerate = sampleRate;
  info.format = rf64 ? (format.sndfileFormat & ~SF_FORMAT_TYPEMASK) | SF_FORMAT_RF64 : format.sndfileFormat;
  if (!sf_format_check(&info))
    w.fail("libsndfile cannot write " + std::to_string(channels) + " channels at " + std::to_string(sampleRate) +
           " Hz as " + format.container);
  std::error_code ignored;
  if (std::filesystem::path(path).filename().empty()) w.fail("the path names no file");
  if (std::filesystem::is_directory(path, ignored)) w.fail("it is a folder");

  w.createTemporary();
  // From here on ~Impl removes the temporary if anything below throws.
  w.file.reset(sf_open_fd(w.fd, SFM_WRITE, &info, SF_FALSE));
  if (!w.file) w.fail(plainSndfileText(sf_strerror(nullptr)));
  if (rf64) sf_command(w.file.get(), SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
  // The PEAK chunk lets editors show a float file's level without a scan;
  // asked for explicitly rather than trusting libsndfile's default.
  if (format.container != "flac") sf_command(w.file.get(), SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_TRUE);
  // Room for the float format chunk's extension size (see widenFloatFormatChunk).
  w.widenFormatChunk = !rf64 && format.container == "wav" && format.sample == SampleFormat::Float32;
  if (w.widenFormatChunk) {
    static char zeros[kPadBytes] = {};
    SF_CHUNK_INFO pad{};
    std::memcpy(pad.id, "JUNK", 4);
    pad.id_size = 4;
    pad.datalen = kPadBytes;
    pad.data = zeros;
    w.widenFormatChunk = sf_set_chunk(w.file.get(), &pad) == SF_ERR_NO_ERROR;
  }

  w.bufferFrames = std::max(1, kBufferBytes / (channels * static_cast<int>(sizeof(float))));
  const size_t scratchSamples = static_cast<size_t>(w.bufferFrames) * channels;
  if (format.sample == SampleFormat::Float32)
    w.floatScratch.resize(scratchSamples);
  else
    w.intScratch.resize(scratchSamples);
  w.peaks.assign(channels, 0.0f);
  w.writesRaw =
      std::endian::native == std::endian::little && format.container == "wav" && format.sample == SampleFormat::Float32;
  w.blockPeaks.assign(channels, 0.0f);
  if (w.writesRaw) w.filePeaks.assign(channels, FilePeak{});
}

namespace {

// libsndfile stamps the PEAK chunk with the time of writing; a fixed stamp
// keeps two renders of one score identical to the byte. Walks the RIFF or
// FORM chunks and zeroes the stamp, which follows the chunk's version word;
// with peaks given (a file written raw, little-endian), writes each
// channel's value and frame after it. Returns false when the chunk was found
// but could not be written, or has not the size its channels give it.
// A channel's entry: its peak as a float and its frame in 32 bits, both
// little-endian, as libsndfile writes them (the frame cut to 32 bits too).
void appendPeak(std::vector<unsigned char>& body, const FilePeak& peak) {
  const auto bits = std::bit_cast<uint32_t>(peak.value);
  const auto frame = static_cast<uint32_t>(peak.frame);
  for (const uint32_t word : {bits, frame})
    for (int shift = 0; shift < 32; shift += 8) body.push_back(static_cast<unsigned char>(word >> shift));
}

bool finishPeakChunk(int fd, bool bigEndian, const std::vector<FilePeak>* peaks) {
  off_t position = 12;
  for (int chunks = 0; chunks < 64; ++chunks) {
    unsigned char header[8];
    if (::pread(fd, header, sizeof header, position) != ssize_t(sizeof header)) return true;
    const uint32_t size =
        bigEndian
            ? (uint32_t(header[4]) << 24 | uint32_t(header[5]) << 16 | uint32_t(header[6]) << 8 | uint32_t(header[7]))
            : (uint32_t(header[4]) | uint32_t(header[5]) << 8 | uint32_t(header[6]) << 16 | uint32_t(header[7]) << 24);
    if (std::memcmp(header, "PEAK", 4) == 0) {
      std::vector<unsigned char> body(4, 0);  // the stamp
      if (peaks) {
        if (size != 8 + 8 * peaks->size()) {
          errno = EIO;
          return false;
        }
        for (const FilePeak& peak : *peaks) appendPeak(body, peak);
      }
      return size < 8 || ::pwrite(fd, body.data(), body.size(), position + 12) == ssize_t(body.size());
    }
    position += off_t(8) + off_t(size) + off_t(size & 1);
  }
  return true;
}

uint32_t littleEndian32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// A float WAV's format chunk, as libsndfile writes it, holds 16 bytes; readers
// such as sox expect the 18 of a format that is not PCM (the last two give
// the size of an extension, 0) and warn without them. The chunk is widened in
// place: the JUNK chunk written after it for the purpose gives up the two
// bytes, so the sound data stays where it is. A header of another shape is
// left as it is. Returns false when the header could not be rewritten.
bool widenFloatFormatChunk(int fd) {
  unsigned char header[4096];
  const ssize_t got = ::pread(fd, header, sizeof header, 0);
  if (got < 36 || std::memcmp(header + 12, "fmt ", 4) != 0 || littleEndian32(header + 16) != 16) return true;
  size_t junk = 36;  // walks the chunks after the format chunk
  while (junk + 8 <= size_t(got) && std::memcmp(header + junk, "JUNK", 4) != 0)
    junk += 8 + littleEndian32(header + junk + 4) + (littleEndian32(header + junk + 4) & 1);
  if (junk + 8 + kPadBytes > size_t(got) || littleEndian32(header + junk + 4) != kPadBytes) return true;
  std::vector<unsigned char> widened;
  widened.insert(widened.end(), header + 12, header + 36);
  widened[4] = 18;
  widened.insert(widened.end(), {0, 0});  // the extension's size
  widened.insert(widened.end(), header + 36, header + junk);
  const unsigned char pad[] = {'J', 'U', 'N', 'K', kPadBytes - 2, 0, 0, 0, 0, 0};
  widened.insert(widened.end(), pad, pad + 8 + kPadBytes - 2);
  return ::pwrite(fd, widened.data(), widened.size(), 12) == ssize_t(widened.size());
}

}  // namespace

SoundFileWriter::~SoundFileWriter() = default;

void SoundFileWriter::ditherWith(uint64_t seed) {
  if (impl->format.sample != SampleFormat::Float32) impl->dither.emplace(seed);
}

void SoundFileWriter::write(const float* interleaved, int frames) {
  Impl& w = *impl;
  if (w.committed || w.failed || !w.file) w.fail("the file is already closed");
  w.checkRoom(frames);
  while (frames > 0) {
    const int n = std::min(frames, w.bufferFrames - w.heldFrames);
    if (w.format.sample == SampleFormat::Float32)
      w.writeFloat(interleaved, n);
    else
      w.writeInt(interleaved, n);
    w.frames += n;
    interleaved += static_cast<ptrdiff_t>(n) * w.channels;
    frames -= n;
    w.heldFrames += n;
    if (w.heldFrames == w.bufferFrames) w.flush();
  }
}

void SoundFileWriter::commit() {
  Impl& w = *impl;
  if (w.committed) return;
  if (w.failed || !w.file) w.fail("an earlier write failed");
  const HeldStopSignals held;
  try {
    w.flush();
    // libsndfile writes a FLAC header only along with the first frames;
    // without this a render of no frames would leave a file no reader accepts.
    if (w.frames == 0 && w.format.container == "flac") sf_command(w.file.get(), SFC_UPDATE_HEADER_NOW, nullptr, 0);
    // sf_close writes the final header (lengths, PEAK).
    if (const int error = sf_close(w.file.release())) w.fail(plainSndfileText(sf_error_number(error)));
    if (w.format.container != "flac" && !w.finishPeaks()) w.fail(std::strerror(errno));
    if (w.widenFormatChunk && !widenFloatFormatChunk(w.fd)) w.fail(std::strerror(errno));
    w.verifyHeader();
    // Flushed before the rename, so a crash just after it cannot leave the
    // final name pointing at data still in flight.
    if (::fsync(w.fd) != 0) w.fail(std::strerror(errno));
    if (::close(std::exchange(w.fd, -1)) != 0) w.fail(std::strerror(errno));
    w.publish();
  } catch (...) {
    w.failed = true;
    w.discard();
    throw;
  }
  w.committed = true;
}

int64_t SoundFileWriter::framesWritten() const { return impl->frames; }
const std::vector<float>& SoundFileWriter::peaks() const { return impl->peaks; }
int64_t SoundFileWriter::clippedSamples() const { return impl->clipped; }
const std::string& SoundFileWriter::path() const { return impl->finalPath; }

void SoundFileWriter::updateHeader() {
  Impl& w = *impl;
  if (w.committed || w.failed || !w.file) return;
  w.flush();
  if (w.format.container == "flac") return;
  sf_command(w.file.get(), SFC_UPDATE_HEADER_NOW, nullptr, 0);
  // A raw file's header as libsndfile rewrote it holds no peaks; the final
  // one will, and a failure here leaves the file as readable as before.
  if (w.writesRaw) w.finishPeaks();
}

}  // namespace vemora
