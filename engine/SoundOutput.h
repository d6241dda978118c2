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

class SoundFileWriter {
 public:
  // Creates the temporary file; throws SoundFileError (folder missing,
  // not writable ...).
  SoundFileWriter(const std::string& path, const OutputFormat& format, int channels,
                  int sampleRate);
  ~SoundFileWriter();  // removes the temporary file unless committed
  SoundFileWriter(const SoundFileWriter&) = delete;
  SoundFileWriter& operator=(const SoundFileWriter&) = delete;

  // Integer formats clip to [-1, 1] (never wrap) and count the clipped samples.
  void write(const float* interleaved, int frames);
  // Closes the file and renames it to its final name. Throws on failure.
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
