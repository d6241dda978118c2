// The embedding API: what a host program (and every test) uses to run the
// engine. One Engine is active at a time in a process: making one sets the
// process-wide rate, block length and control rate that plug-ins read.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "Instrument.h"
#include "SoundInput.h"

namespace vemora {

// A misuse of an engine command (bad option, bad table arguments, missing
// plug-in ...). The score reader reports it with the score line.
struct ScoreError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// What a 16- or 24-bit file gets before its samples are rounded.
enum class Dither { Tpdf, None };

struct EngineSettings {
  int sampleRate = 44100;
  int channels = 2;
  int blockFrames = 512;         // RTBUFSAMPS
  int controlRate = 1000;        // resetval
  unsigned seed = 0;             // rrand, the score's math.random and the dither
  bool resample = true;          // an input file at another rate is resampled (off: refused)
  Dither dither = Dither::Tpdf;  // integer output files
};

// How a file render is finished, beyond its format.
struct Mastering {
  std::optional<Dither> dither;         // empty: the engine's setting
  std::optional<double> normalizeDbfs;  // scale the whole render so that its peak is this level
};

struct FunctionTable {
  std::vector<double> values;
};
using TablePtr = std::shared_ptr<const FunctionTable>;

// One pfield: a number, or a table whose value follows the note's progress.
struct PField {
  double value = 0.0;
  TablePtr table;
  PField(double v = 0.0) : value(v) {}
  PField(TablePtr t) : value(t && !t->values.empty() ? t->values[0] : 0.0), table(std::move(t)) {}
};

enum class MessageKind { Refusal, Advice, Error, Info };

// How advisories reach standard error: each as it comes; each distinct one
// once, at the end, with the number of notes that gave it; or not at all.
// Refusals and errors always come as they happen.
enum class AdvisoryEcho { Each, Summarized, Silent };

struct Message {
  MessageKind kind;
  std::string name;  // instrument or command
  std::string text;
  std::string where;  // "score.lua:12", or empty
};

// What one note did when played alone with chosen chunk sizes.
struct NoteCapture {
  bool refused = false;
  int initResult = 0;
  int outChannels = 0;
  int noteFrames = 0;
  std::vector<float> frames;    // interleaved, noteFrames frames
  std::vector<int> chunkSizes;  // chunkFrames of each run call
  std::vector<int> runResults;  // what each run call returned
};

struct RenderReport {
  std::string path;
  int64_t frames = 0;
  int channels = 0;
  int sampleRate = 0;
  std::vector<float> peaks;  // absolute, per channel
  int64_t clippedSamples = 0;
  bool integerFormat = false;
  int notesPlayed = 0;
  int notesRefused = 0;
  int notesOfNoLength = 0;     // played, but of no length: they wrote no frames
  int inputsChanged = 0;       // inputs found changed or cut shorter while read
  double renderSeconds = 0.0;  // wall time of the render
  // Input files read at another rate than theirs: "NAME (48000 Hz)".
  std::vector<std::string> inputsResampled;
  std::optional<double> normalizeGain;  // the factor applied, when asked to normalize
};

// Receives the rendered output block by block.
class OutputSink {
 public:
  virtual ~OutputSink() = default;
  virtual void write(const float* interleaved, int frames) = 0;
};

class Engine {
 public:
  explicit Engine(EngineSettings settings = {});
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  const EngineSettings& settings() const;
  // "sr=48000", "channels=4", "block=256", "control_rate=500", "seed=7",
  // "resample=off" (or on), "dither=none" (or tpdf). Refused once a note
  // has been played.
  void setOption(const std::string& text);

  // Messages: echoed on standard error unless turned off, always kept.
  void setEchoMessages(bool echo);
  void setScoreLocation(const std::string& where);  // prefixed to messages
  // As above, with the place found only when a message needs it: a score
  // line that gives no message pays nothing for naming itself.
  void setScoreLocation(std::function<std::string()> findWhere);
  void setAdvisoryEcho(AdvisoryEcho mode);  // default: Each
  void printAdvisorySummary();              // for AdvisoryEcho::Summarized
  const std::vector<Message>& messages() const;
  void clearMessages();

  // Plug-ins: lib<NAME>.so on the search path (added folders first, then
  // VEMORA_PLUGIN_PATH, then the installed and build plug-in folders).
  void addPluginPath(const std::string& folder);
  std::vector<std::string> pluginSearchPath() const;
  // Returns the instrument and function names the plug-in registered.
  std::vector<std::string> load(const std::string& name);
  // Binds a factory under a name directly, as an embedding host does.
  void bindInstrument(const std::string& name, InstCreatorFunction factory);
  // Every plug-in on the search path, loaded to see what it is (an embedding
  // host should list before it loads plug-ins of its own).
  struct PluginInfo {
    std::string name;
    std::string kind;     // "instrument", "legacy note", "score functions", or the load error
    std::string summary;  // one line, when the plug-in gives one
    std::vector<std::string> registers;
  };
  std::vector<PluginInfo> listPlugins();
  bool hasInstrument(const std::string& name) const;
  bool hasFunction(const std::string& name) const;

  // Function tables.
  void makeTable(int slot, int number, long long size, const std::vector<double>& args);
  TablePtr makePFieldTable(int number, long long size, const std::vector<double>& args);
  void setTable(int slot, std::vector<double> values);

  // Input for the notes that follow. A file opened again, unchanged, is
  // shared rather than opened (and cached) a second time. A file at another
  // rate than the render is resampled as it is read, and an advisory says
  // so (unless "resample=off": then it is refused). Input a host hands over
  // must run at the render's rate.
  void setInput(const std::string& path);
  void setInput(std::unique_ptr<SoundInput> input);
  // The input device, for rtinput("device"). A front end that plays sets
  // how it is opened: opener makes it for the settings of the moment (and
  // throws ScoreError when it cannot). The first useInputDevice opens it,
  // later ones use the same; without an opener it is a ScoreError.
  using InputDeviceOpener = std::function<std::shared_ptr<SoundInput>(const EngineSettings&)>;
  void setInputDeviceOpener(InputDeviceOpener opener);
  void useInputDevice();
  // Throws ScoreError when path is the same file (device and inode, however
  // spelled or linked) as an input the engine has opened: writing it would
  // replace what the render reads.
  void checkOutputIsNoInput(const std::string& path) const;
  // Inputs found changed or cut shorter while notes read them (each is
  // reported once as it is found).
  int inputsChanged() const;

  // The memory that tables, input caches and legacy notes' output may take
  // in all; what would pass it is refused with a message. 0: no limit (the
  // default of an embedded engine).
  void setMemoryLimit(size_t bytes);
  size_t memoryHeld() const;

  // bus_config("PAN", {"in0", "out0-1"}): which input and output channels the
  // notes of an instrument use.
  void busConfig(const std::string& instrument, const std::vector<std::string>& buses);

  // Makes the note and runs init now; the note sounds when rendered.
  // Returns false when the note was refused.
  bool playNote(const std::string& name, std::vector<PField> pfields);
  // The same, taking the fields from storage the caller keeps (their tables
  // are moved out), so that a host playing many notes need not allocate a
  // list for each.
  bool playNote(const std::string& name, std::span<PField> pfields);
  // Calls a legacy note function or a score function now; returns its value.
  double callFunction(const std::string& name, const std::vector<double>& args);

  // Renders every note played so far, block by block. betweenBlocks (if
  // given) runs after each block with the frame at which the next begins.
  void render(OutputSink& sink, const std::function<void(int64_t)>& betweenBlocks = {});
  std::vector<float> renderToMemory();
  // Renders into a sound file (format from the extension; sampleText "16",
  // "24" or empty for 32-bit float) and reports on it. progress (if given)
  // runs after each block with the frames done and the frames in all (and,
  // while a normalized render is written, with both at the end).
  RenderReport renderToFile(const std::string& path, const std::string& sampleText = "",
                            const std::function<void(int64_t, int64_t)>& progress = {},
                            const Mastering& mastering = {});
  int64_t scoreFrames() const;  // frames from 0 to the end of the last note
  // Samples that legacy notes have written since the engine began (a score
  // reader counts them against its limits).
  int64_t legacySamplesWritten() const;

  // Live rendering, for a session whose notes arrive while it plays (the
  // socket server). While a stream is open, a note's start time counts from
  // the stream's position when the note is played.
  void openStream(OutputSink& sink);
  int renderStreamBlock();  // renders one block; returns its frames
  int64_t streamPosition() const;
  bool streamIdle() const;  // no note waits or sounds
  void closeStream();

  // Plays one note alone from its first frame, with run calls of the given
  // chunk sizes (repeated cyclically, each capped at the frames left).
  NoteCapture playNoteAlone(const std::string& name, std::vector<PField> pfields, const std::vector<int>& chunkSizes);

  int notesPlayed() const;
  int notesRefused() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
};

// bang_ready as the host sees it: returns the flag and clears it.
int takeBangReady();

}  // namespace vemora
