#include "FloatScratch.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "SoundInput.h"

namespace vemora {

namespace {

constexpr size_t kBufferSamples = (256 << 10) / sizeof(float);

std::string folderOf(const std::string& path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  return folder.empty() ? "." : folder;
}

}  // namespace

FloatScratch::FloatScratch(const std::string& outputPath, int channels)
    : outputPath(outputPath), channels(channels), buffer(kBufferSamples / size_t(channels) * size_t(channels)) {
  std::string name = (std::filesystem::path(folderOf(outputPath)) / ".vemora-scratch-XXXXXX").string();
  fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) fail(std::strerror(errno));
  ::unlink(name.c_str());
}

FloatScratch::~FloatScratch() {
  if (fd >= 0) ::close(fd);
}

void FloatScratch::fail(const std::string& reason) const {
  throw SoundFileError("rtoutput: cannot write \"" + outputPath + "\": the render kept for normalizing: " + reason);
}

void FloatScratch::write(const float* interleaved, int frames) {
  size_t count = size_t(frames) * size_t(channels);
  while (count > 0) {
    const size_t n = std::min(count, buffer.size() - held);
    for (size_t i = 0; i < n; ++i) {
      const float x = interleaved[i];
      buffer[held + i] = x;
      if (std::isfinite(x)) largest = std::max(largest, std::fabs(x));
    }
    held += n;
    interleaved += n;
    count -= n;
    if (held == buffer.size()) flush();
  }
}

void FloatScratch::flush() {
  const char* bytes = reinterpret_cast<const char*>(buffer.data());
  size_t left = held * sizeof(float);
  while (left > 0) {
    const ssize_t written = ::pwrite(fd, bytes, left, off_t(bytesInFile));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) fail(written < 0 ? std::strerror(errno) : "the disk took nothing");
    bytes += written;
    left -= size_t(written);
    bytesInFile += written;
  }
  held = 0;
}

void FloatScratch::replay(double gain, OutputSink& sink, const std::function<void()>& betweenPieces) {
  flush();
  const int64_t samplesInFile = bytesInFile / int64_t(sizeof(float));
  for (int64_t done = 0; done < samplesInFile;) {
    const size_t count = size_t(std::min<int64_t>(int64_t(buffer.size()), samplesInFile - done));
    const size_t bytes = count * sizeof(float);
    size_t got = 0;
    while (got < bytes) {
      const ssize_t n = ::pread(fd, reinterpret_cast<char*>(buffer.data()) + got, bytes - got,
                                off_t(done) * off_t(sizeof(float)) + off_t(got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) fail(n < 0 ? std::strerror(errno) : "it ended early");
      got += size_t(n);
    }
    for (size_t i = 0; i < count; ++i) buffer[i] = float(double(buffer[i]) * gain);
    sink.write(buffer.data(), int(count / size_t(channels)));
    done += int64_t(count);
    if (betweenPieces) betweenPieces();
  }
}

double normalizingGain(float peak, double targetDbfs) {
  if (!(peak > 0.0f)) return 1.0;
  return std::pow(10.0, targetDbfs / 20.0) / double(peak);
}

}  // namespace vemora
