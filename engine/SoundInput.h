// Audio input for notes: a sound file read through libsndfile, or frames held
// in memory. Every note keeps its own cursor; reads outside the source give zeros.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vemora {

class MemoryBudget;

struct SoundFileError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// libsndfile's error text in the words of a message to a user:
// "System error : File too large." becomes "File too large", and texts that
// speak of libsndfile's own structures say what is wrong with the file.
std::string plainSndfileText(const std::string& text);

// Which file a path leads to (links followed), and how it stood when looked
// at: two paths name the same file when device and inode agree, however
// they are spelled.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t size = 0;
  int64_t modifiedNs = 0;
  bool sameFile(const FileIdentity& other) const { return device == other.device && inode == other.inode; }
  bool unchangedFrom(const FileIdentity& other) const {
    return sameFile(other) && size == other.size && modifiedNs == other.modifiedNs;
  }
};

// The identity of the file at path; empty when there is none (or no access).
std::optional<FileIdentity> identityOf(const std::string& path);

class SoundInput {
 public:
  virtual ~SoundInput() = default;
  virtual int channels() const = 0;
  virtual double sampleRate() const = 0;
  virtual int64_t frames() const = 0;
  virtual const std::string& name() const = 0;
  // Reads frameCount interleaved frames starting at startFrame (which may be
  // negative or past the end: those frames are zeros).
  virtual void read(int64_t startFrame, int frameCount, float* dst) = 0;
  // The file read, as it stood when opened; empty for input held in memory.
  virtual std::optional<FileIdentity> fileIdentity() const { return std::nullopt; }
  // Input that comes in while the render runs (the sound card's): its frame
  // f is the one that came in with output frame f, so a note reads it from
  // the frame the note starts at rather than from the start of the input.
  virtual bool arrivesLive() const { return false; }
  // Asks to be told, once, when the file is found changed or shorter while
  // it is read: the text names the file and the frame.
  virtual void watch(std::function<void(const std::string&)> onChange) { (void)onChange; }
};

// Opens a sound file; throws SoundFileError naming the file and the reason.
// A file that can be read but is damaged (cut short) opens, and *warning
// (when given) says what is wrong with it. The read cache is taken from
// budget when one is given (MemoryRefused when it has not enough left).
std::unique_ptr<SoundInput> openSoundInput(const std::string& path, std::string* warning = nullptr,
                                           MemoryBudget* budget = nullptr);
std::unique_ptr<SoundInput> memorySoundInput(std::vector<float> interleaved, int channels, double sampleRate,
                                             std::string name = "memory");

}  // namespace vemora
