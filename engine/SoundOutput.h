// Sound-file output through libsndfile: the format comes from the file name,
// frames are streamed block by block into a temporary file in the same folder
// that takes the final name only when the render completes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SoundInput.h"  // SoundFileError

namespace vemora {

enum class SampleFormat { Float32, Int16, Int24 };

struct OutputFormat {
  int sndfileFormat = 0;  // SF_FORMAT_* major | minor
  SampleFormat sample = SampleFormat::Float32;
  std::string container;  // "wav", "aiff", "flac"
};

// From the extension (.wav .aif .aiff .flac, any case) and an optional sample
// format text ("16", "24", "float"; empty = float, or 24 for flac).
// Throws SoundFileError for an unknown extension or format.
OutputFormat outputFormatFor(const std::string& path, const std::string& sampleText);

// For expectedFrames: a stream whose length is not known when it starts.
constexpr int64_t kLengthUnknown = -1;

class SoundFileWriter {
 public:
  // Creates the temporary file; throws SoundFileError (folder missing,
  // not writable ...). expectedFrames is the length the caller will write:
  // a WAV file whose sound passes 4 GiB, or one of unknown length, is
  // written as RF64 (plain WAV again when it ends below the limit); an AIFF
  // file that would pass its 4 GiB limit is refused here. A file that grows
  // past what its container can hold fails the write that would cross it.
  SoundFileWriter(const std::string& path, const OutputFormat& format, int channels, int sampleRate,
                  int64_t expectedFrames = 0);
  ~SoundFileWriter();  // removes the temporary file unless committed
  SoundFileWriter(const SoundFileWriter&) = delete;
  SoundFileWriter& operator=(const SoundFileWriter&) = delete;

  // Integer samples written from now on get TPDF dither of one step (see
  // TpdfDither.h) drawn from a generator seeded with seed. Float files are
  // never dithered: for them this does nothing.
  void ditherWith(uint64_t seed);
  // Integer formats clip to [-1, 1] (never wrap) and count the clipped samples.
  void write(const float* interleaved, int frames);
  // Closes the file, checks the header it ended with against the frames
  // written, flushes it to the disk and renames it to its final name, then
  // flushes the folder. Throws on any failure, leaving no temporary and any
  // earlier file under the final name as it was. SIGINT, SIGTERM and SIGHUP
  // wait while it runs, so a stop can never catch it half done.
  void commit();

  int64_t framesWritten() const;
  const std::vector<float>& peaks() const;  // per channel, absolute
  int64_t clippedSamples() const;
  const std::string& path() const;

  // Hands the frames gathered so far to libsndfile and rewrites the header
  // to count every frame written, so that the temporary file is readable as
  // far as it goes should the process die before commit(). A long-running
  // writer (a live session) calls it now and then. FLAC has no length to
  // rewrite: its frames are handed over only.
  void updateHeader();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
};

}  // namespace vemora
