#include "VemoraMain.h"

#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cerrno>
#include <exception>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "AudioDevice.h"
#include "Engine.h"
#include "LivePlayer.h"
#include "MemoryBudget.h"
#include "PrintableText.h"
#include "ScoreReader.h"
#include "SocketServer.h"
#include "SoundOutput.h"

Vemora::Vemora(int argc, char** argv, char** env) : argc(argc), argv(argv), env(env) {}

Vemora::~Vemora() = default;

namespace {

constexpr int kSuccess = 0;
constexpr int kNothingWritten = 1;
// Also a render whose inputs changed under it: it ran, but is not what was asked.
constexpr int kSomeRefused = 2;

// What the command line says, in either mode: a render (a score to a file)
// or socket mode (-i). Values stay text until the mode's checks read them,
// so that each refusal names its option in the program's own words.
// An option's value as given; given empty is not the same as not given.
struct Given {
  std::string text;
  bool given = false;
};

struct CommandLine {
  bool socketMode = false;
  bool listPlugins = false;
  // -c: the client library's start line, "-i -n -c -o N", whose -o is the
  // socket number; everywhere else -o names the output file.
  bool clientStartLine = false;
  // Both modes.
  std::string output;
  std::vector<std::string> pluginPaths;
  Given maxMemory;  // not given: defaultMemoryLimit()
  // Live audio, both modes: --play, --device, --input-device, --buffer;
  // --list-devices.
  bool play = false;
  bool listDevices = false;
  vemora::LiveOptions live;
  // A render.
  std::string score;
  std::string sampleFormat;
  bool quiet = false;
  bool verbose = false;
  std::string maxScoreSteps;             // empty or 0: no limit
  std::string dither;                    // empty: the score's choice (set_option), else TPDF
  std::optional<std::string> normalize;  // given: its level, or empty for the default
  // Socket mode.
  Given socketNumber;
  std::string root;
  Given maxSessionSeconds;
  Given maxRate;
  Given maxChannels;
  std::string log;  // "&>LOG", or empty
};

// Values on the command line that do not fit their option.
struct BadOption : std::runtime_error {
  using std::runtime_error::runtime_error;
};

void printError(const std::string& text) { std::fprintf(stderr, "vemora: %s\n", vemora::printable(text).c_str()); }

void printWarning(const std::string& text) { printError("warning: " + text); }

// A stop asked for while a file renders. The handler only notes the signal;
// the render looks after every block and gives up, and giving up removes
// the temporary file. Outside the render the signals act as usual: a score
// stuck in a loop still ends at once, and nothing is on disk yet then.
volatile std::sig_atomic_t gStopSignal = 0;

void noteStopSignal(int signal) { gStopSignal = signal; }

struct Interrupted {
  int signal;
};

// Catches SIGINT, SIGTERM and SIGHUP (a closed terminal or SSH session)
// while it lives. Each is caught once: a second one acts as usual, which
// still ends a render stuck inside an instrument.
class StopSignals {
 public:
  StopSignals() {
    struct sigaction action {};
    action.sa_handler = noteStopSignal;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < kCaught.size(); ++i) sigaction(kCaught[i], &action, &previous[i]);
  }
  ~StopSignals() {
    for (size_t i = 0; i < kCaught.size(); ++i) sigaction(kCaught[i], &previous[i], nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  void throwIfStopped() const {
    if (gStopSignal != 0) throw Interrupted{gStopSignal};
  }

 private:
  static constexpr std::array<int, 3> kCaught = {SIGINT, SIGTERM, SIGHUP};
  std::array<struct sigaction, 3> previous{};
};

const char* signalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "a signal";
  }
}

// Next to the score, with its name: examples/demo.lua renders to examples/demo.wav.
std::string defaultOutputFor(const std::string& scorePath) {
  return std::filesystem::path(scorePath).replace_extension(".wav").string();
}

std::string dbfs(float peak) {
  if (!(peak > 0.0f)) return "-inf";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", 20.0 * std::log10(static_cast<double>(peak)));
  return text;
}

// The inputs resampled and the gain of --normalize, when there were any.
void printMastering(const vemora::RenderReport& report) {
  if (!report.inputsResampled.empty()) {
    std::string names;
    for (const std::string& input : report.inputsResampled) names += (names.empty() ? "" : ", ") + input;
    std::printf("  inputs:  %zu resampled to %d Hz: %s\n", report.inputsResampled.size(), report.sampleRate,
                vemora::printable(names).c_str());
  }
  if (report.normalizeGain) {
    if (report.peaks.empty() || *std::max_element(report.peaks.begin(), report.peaks.end()) == 0.0f)
      std::printf("  gain:    none (the render is silent: there is no peak to normalize)\n");
    else
      std::printf("  gain:    %+.2f dB (normalized)\n", 20.0 * std::log10(*report.normalizeGain));
  }
}

void printReport(const vemora::RenderReport& report) {
  const double audioSeconds = report.sampleRate > 0 ? static_cast<double>(report.frames) / report.sampleRate : 0.0;
  std::printf("wrote %s\n", vemora::printable(report.path).c_str());
  std::printf("  audio:   %.3f s, %d channel%s, %d Hz\n", audioSeconds, report.channels,
              report.channels == 1 ? "" : "s", report.sampleRate);
  std::printf("  peak:   ");
  for (size_t c = 0; c < report.peaks.size(); ++c) {
    std::printf("%s ch%zu %s dBFS", c ? "," : "", c, dbfs(report.peaks[c]).c_str());
  }
  std::printf("\n");
  // Float files keep values above full scale, so only integer files clip.
  if (report.integerFormat) {
    std::printf("  clipped: %lld samples\n", static_cast<long long>(report.clippedSamples));
  }
  std::printf("  notes:   %d played, %d refused\n", report.notesPlayed, report.notesRefused);
  printMastering(report);
  if (report.renderSeconds > 0.0) {
    std::printf("  speed:   %.1fx real time (%.2f s)\n", audioSeconds / report.renderSeconds, report.renderSeconds);
  }
  // Standard output may be closed early (vemora score.lua | head -1): the
  // file is written all the same, so that is said on standard error alone.
  if (std::fflush(stdout) != 0 || std::ferror(stdout))
    std::fprintf(stderr, "vemora: the report could not be written to standard output: %s; %s was written\n",
                 std::strerror(errno), vemora::printable(report.path).c_str());
}

// What a user would not notice in the closing report: a channel that stayed
// silent, notes that wrote nothing, samples clipped or beyond full scale.
// Returns true when the file is not what the score asked for (clipped).
bool warnAbout(const vemora::RenderReport& report) {
  const std::string file = report.path + ": ";
  for (size_t c = 0; c < report.peaks.size(); ++c)
    if (!(report.peaks[c] > 0.0f)) printWarning(file + "channel " + std::to_string(c) + " stayed silent (peak -inf)");
  if (report.notesOfNoLength > 0)
    printWarning(file + std::to_string(report.notesOfNoLength) +
                 (report.notesOfNoLength == 1 ? " note was" : " notes were") +
                 " of no length and wrote no frames (a duration of 0, or too few pfields?)");
  const float peak = report.peaks.empty() ? 0.0f : *std::max_element(report.peaks.begin(), report.peaks.end());
  if (report.integerFormat && report.clippedSamples > 0) {
    printWarning(file + std::to_string(report.clippedSamples) +
                 " samples passed full scale and were clipped (lower the levels, or write float)");
    return true;
  }
  // An infinite sample was reported already, and written as full scale.
  if (!report.integerFormat && peak > 1.0f && std::isfinite(peak))
    printWarning(file + "the peak passes full scale (" + dbfs(peak) +
                 " dBFS); it is kept in this float file, but would clip when converted to 16 or 24 bits");
  return false;
}

// A line on standard error, redrawn in place while the render runs. Only on
// a terminal: in a log file it would be a heap of carriage returns.
class ProgressLine {
 public:
  explicit ProgressLine(int sampleRate) : sampleRate(sampleRate) {}
  ~ProgressLine() {
    if (shownPercent >= 0) std::fputs("\r\033[K", stderr);
  }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void show(int64_t framesDone, int64_t framesInAll) {
    const int percent = framesInAll > 0 ? int(100 * framesDone / framesInAll) : 100;
    if (percent == shownPercent) return;
    shownPercent = percent;
    std::fprintf(stderr, "\rrendering %3d%%  %.1f of %.1f s", percent, double(framesDone) / sampleRate,
                 double(framesInAll) / sampleRate);
    std::fflush(stderr);
  }

 private:
  double sampleRate;
  int shownPercent = -1;
};

// A whole number from 0 to the largest a long long holds; past it is an
// error, never a wrap or a "no limit".
long long stepLimitFrom(const std::string& text) {
  if (text.empty()) return 0;
  char* end = nullptr;
  errno = 0;
  const long long steps = std::strtoll(text.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE || steps < 0 || !std::isdigit(static_cast<unsigned char>(text[0])))
    throw BadOption("--max-score-steps: \"" + text + "\" is not a whole number from 0 to " +
                    std::to_string(std::numeric_limits<long long>::max()));
  return steps;
}

// --normalize's level: a number of dBFS at most 0, -1 when none is given.
double normalizeLevelFrom(const std::string& text) {
  if (text.empty()) return -1.0;
  char* end = nullptr;
  const double level = std::strtod(text.c_str(), &end);
  if (*end != '\0' || end == text.c_str() || !std::isfinite(level) || level > 0.0)
    throw vemora::ScoreError("--normalize: \"" + text + "\" is not a level in dBFS at most 0 (-1, -0.3 ...)");
  return level;
}

// Given empty, --max-memory is refused rather than taken as the default.
size_t memoryLimitFrom(const CommandLine& options) {
  if (!options.maxMemory.given) return vemora::defaultMemoryLimit();
  const size_t bytes = vemora::parseMemorySize(options.maxMemory.text);
  if (bytes == 0)
    throw BadOption("--max-memory: \"" + options.maxMemory.text +
                    "\" is not a size (give bytes, or a number with K, M or G)");
  return bytes;
}

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The file the render writes: --output, else the score's rtoutput, else
// the score's own name with .wav. It must not be the score or one of the
// inputs: the render would replace what it was made from.
std::string outputPathFor(const CommandLine& options, const vemora::ScoreReader& reader, vemora::Engine& engine) {
  std::string path = options.output;
  if (path.empty()) path = reader.outputPath();
  if (path.empty()) {
    if (!isRegularFile(options.score))
      throw vemora::ScoreError("the score " + options.score +
                               " is not a file, so no output can be named after it: give --output FILE or "
                               "rtoutput(\"FILE\") in the score");
    path = defaultOutputFor(options.score);
  }
  const auto output = vemora::identityOf(path);
  const auto score = vemora::identityOf(options.score);
  if (output && score && output->sameFile(*score))
    throw vemora::ScoreError("rtoutput: \"" + path + "\" is the same file as the score " + options.score +
                             "; writing it would replace the score (choose another output name)");
  engine.checkOutputIsNoInput(path);
  return path;
}

// --play: the score through the output device as it renders (and into
// the file, when one is named). A stop ends playback at once and keeps in
// the file what was played.
int playScore(const CommandLine& options, vemora::Engine& engine, const std::string& path, const std::string& sample,
              std::optional<vemora::Dither> dither, std::shared_ptr<vemora::LiveInput> input) {
  const StopSignals stopSignals;
  vemora::LiveOptions live = options.live;
  live.dither = dither;
  live.input = std::move(input);
  const vemora::PlayReport report = vemora::playScore(engine, live, path, sample, [] { return int(gStopSignal); });
  if (report.stoppedBy != 0) {
    char played[32];
    std::snprintf(played, sizeof played, "%.3f s", double(report.framesPlayed) / report.sampleRate);
    printError(std::string("interrupted by ") + signalName(report.stoppedBy) + "; playback stopped after " + played +
               (report.outputPath.empty() ? "" : "; " + report.outputPath + " holds what was played"));
  }
  engine.printAdvisorySummary();
  if (!options.quiet) vemora::printPlayReport(report, options.score);
  if (report.underruns > 0)
    printError(std::to_string(report.underruns) + " underrun" + (report.underruns == 1 ? "" : "s") +
               ": the render fell behind the device (see above)");
  if (report.inputFramesLost > 0)
    printError(std::to_string(report.inputFramesLost) +
               " input frames lost: the render fell behind the input device (they were read as silence)");
  if (report.stoppedBy != 0) return 128 + report.stoppedBy;
  if (!report.integerFormat && report.clippedSamples > 0)
    printError(report.outputPath + ": " + std::to_string(report.clippedSamples) +
               " samples were NaN or infinite; they were written as 0 (NaN) or full scale (infinite)");
  const bool clipped = report.integerFormat && report.clippedSamples > 0;
  if (clipped)
    printWarning(report.outputPath + ": " + std::to_string(report.clippedSamples) +
                 " samples passed full scale and were clipped (lower the levels, or write float)");
  return report.notesRefused > 0 || report.inputsChanged > 0 || clipped ? kSomeRefused : kSuccess;
}

int render(const CommandLine& options) {
  // An unusable --output is reported before a long score is read.
  if (!options.output.empty()) vemora::outputFormatFor(options.output, options.sampleFormat);
  vemora::Mastering mastering;
  if (!options.dither.empty())
    mastering.dither = options.dither == "none" ? vemora::Dither::None : vemora::Dither::Tpdf;
  if (options.normalize) mastering.normalizeDbfs = normalizeLevelFrom(*options.normalize);

  vemora::Engine engine;
  engine.setAdvisoryEcho(options.verbose ? vemora::AdvisoryEcho::Each
                         : options.quiet ? vemora::AdvisoryEcho::Silent
                                         : vemora::AdvisoryEcho::Summarized);
  // Whatever ends the run, the advisories held back are said before it ends.
  struct SummaryAtEnd {
    vemora::Engine& engine;
    ~SummaryAtEnd() { engine.printAdvisorySummary(); }
  } summaryAtEnd{engine};
  for (const std::string& folder : options.pluginPaths) engine.addPluginPath(folder);
  const size_t memoryLimit = memoryLimitFrom(options);
  engine.setMemoryLimit(memoryLimit);

  vemora::ScoreLimits limits;
  limits.steps = stepLimitFrom(options.maxScoreSteps);
  limits.memoryBytes = memoryLimit;
  // Played, the score may read the input device: found when it names it,
  // opened with the output when the score plays.
  std::shared_ptr<vemora::LiveInput> heard;
  if (options.play)
    engine.setInputDeviceOpener([&heard, wanted = options.live.inputDevice](const vemora::EngineSettings& settings) {
      heard = vemora::findInputDevice(wanted, settings);
      return heard;
    });
  vemora::ScoreReader reader(engine, limits);
  reader.run(options.score);
  engine.printAdvisorySummary();  // the score's; the render's follow it

  if (engine.notesPlayed() == 0) {
    printError("the score played no notes; nothing written");
    return kNothingWritten;
  }

  // The output's errors (a folder that is not there, the score's own file)
  // name the score line of the rtoutput that chose it, like any command's.
  const bool scoreChoseOutput = options.output.empty() && !reader.outputPath().empty();
  auto atOutputLine = [&](auto&& step) {
    try {
      return step();
    } catch (const vemora::ScoreError& error) {
      const std::string text = error.what();
      if (!scoreChoseOutput || reader.outputLocation().empty() || !text.starts_with("rtoutput:")) throw;
      throw vemora::ScoreError(reader.outputLocation() + ": " + text);
    }
  };
  // Played, a score writes a file only when --output or rtoutput names one.
  const bool fileNamed = !options.output.empty() || !reader.outputPath().empty();
  const std::string path =
      options.play && !fileNamed ? "" : atOutputLine([&] { return outputPathFor(options, reader, engine); });
  const std::string sample = options.sampleFormat.empty() ? reader.outputSampleFormat() : options.sampleFormat;
  if (options.play) {
    if (mastering.normalizeDbfs)
      throw BadOption(
          "--normalize scales the whole render before any of it is written; it cannot play as it renders "
          "(--play)");
    return playScore(options, engine, path, sample, mastering.dither, heard);
  }

  std::optional<ProgressLine> progress;
  if (!options.quiet && isatty(STDERR_FILENO)) progress.emplace(engine.settings().sampleRate);
  const StopSignals stopSignals;
  const vemora::RenderReport report = atOutputLine([&] {
    return engine.renderToFile(
        path, sample,
        [&progress, &stopSignals](int64_t done, int64_t inAll) {
          stopSignals.throwIfStopped();
          if (progress) progress->show(done, inAll);
        },
        mastering);
  });
  progress.reset();
  // A stop that came while the file was being finished waited for it: the
  // file is complete, and the status says it was written.
  if (gStopSignal != 0)
    printError(std::string(signalName(gStopSignal)) + " came as " + report.path +
               " was being finished; it was written in full");
  engine.printAdvisorySummary();
  if (!options.quiet) printReport(report);
  // A float file keeps values beyond full scale, but not values that are no
  // number at all: the writer put 0 for NaN and full scale for infinity.
  if (!report.integerFormat && report.clippedSamples > 0)
    printError(report.path + ": " + std::to_string(report.clippedSamples) +
               " samples were NaN or infinite; they were written as 0 (NaN) or full scale (infinite)");
  if (report.inputsChanged > 0)
    printError(report.path + " was written, but an input changed while it was read (see above)");
  const bool clipped = warnAbout(report);
  return report.notesRefused > 0 || report.inputsChanged > 0 || clipped ? kSomeRefused : kSuccess;
}

// -i anywhere on the line chooses socket mode before the line is parsed:
// -o names the output file of a render but the socket number in socket
// mode (the start line the client library sends is vemora -i -n -c -o N).
bool hasArgument(int argc, char** argv, const std::string& argument) {
  for (int i = 1; i < argc; ++i)
    if (argv[i] == argument) return true;
  return false;
}

bool isSocketMode(int argc, char** argv) { return hasArgument(argc, argv, "-i"); }

// One line a plug-in: its name, its kind and what it is (or, for a plug-in
// that does not say, the names it registers).
int listPlugins(const CommandLine& options) {
  vemora::Engine engine;
  engine.setEchoMessages(false);
  for (const std::string& folder : options.pluginPaths) engine.addPluginPath(folder);
  const auto plugins = engine.listPlugins();
  for (const vemora::Engine::PluginInfo& plugin : plugins) {
    std::string about = plugin.summary;
    if (about.empty()) {
      about = "registers";
      for (const std::string& name : plugin.registers) about += " " + name;
    }
    std::printf("%-12s %-16s %s\n", vemora::printable(plugin.name).c_str(), vemora::printable(plugin.kind).c_str(),
                vemora::printable(about).c_str());
  }
  if (plugins.empty()) printError("no plug-ins on the search path");
  return plugins.empty() ? kNothingWritten : kSuccess;
}

constexpr const char* kSocketUsage =
    "vemora -i -n -s N [-o|--output FILE] [--root DIR] [--max-session-seconds S] [--max-rate HZ] "
    "[--max-channels N] [--max-memory SIZE] [--plugin-path DIR] [--play [--device D] [--input-device D] [--buffer "
    "FRAMES]]";

// An option whose value is checked after the parse.
CLI::Option* addGiven(CLI::App& app, const std::string& name, Given& value, const std::string& description) {
  return app.add_option(name, value.text, description)->each([&value](const std::string&) { value.given = true; });
}

// The help's usage line names both modes (CLI11 alone would show
// "vemora [OPTIONS]", the score being in the render's group).
class BothUsages : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App*, std::string) const override {
    return "Usage: vemora [OPTIONS] score.lua\n       vemora -i -n -s N [OPTIONS]\n";
  }
};

// The one definition of the command line. The options both modes take
// belong to the program; each mode's own are in its group. The help shows
// both groups, but only the chosen mode's is parsed: an option of the
// other mode is an unknown argument.
void defineCommandLine(CLI::App& app, CommandLine& options) {
  app.description(
      "Renders a score (a Lua script) to a sound file, or serves score records over TCP (socket mode, -i).");
  app.formatter(std::make_shared<BothUsages>());
  app.set_version_flag("--version", "vemora " VEMORA_VERSION);
  app.add_flag("--list-plugins", options.listPlugins,
               "List every plug-in on the search path (name, kind, what it is) and exit");
  app.add_option("--plugin-path", options.pluginPaths, "Folder searched for plug-ins before the others (repeatable)")
      ->allow_extra_args(false)  // one folder per --plugin-path, never the score
      ->type_name("DIR");
  addGiven(app, "--max-memory", options.maxMemory,
           "Memory that tables, inputs and legacy notes may take in all (bytes, or a number with K, M or G; "
           "default half the machine's memory); asking for more is an error naming the score line or the record")
      ->type_name("SIZE");
  app.add_flag("--play", options.play,
               "Play through the output device as it renders: a score (writing a file only when --output or "
               "its rtoutput names one), or a session's records as they arrive");
  app.add_option("--device", options.live.device, "Output device for --play: its number or name (--list-devices)")
      ->type_name("NAME|INDEX");
  app.add_option("--input-device", options.live.inputDevice,
                 "Input device for a played score's rtinput(\"device\"): its number or name (--list-devices)")
      ->type_name("NAME|INDEX");
  app.add_option("--buffer", options.live.bufferFrames, "The device's buffer for --play, in frames (default 256)")
      ->check(CLI::Range(16, 8192))
      ->type_name("FRAMES");
  app.add_flag("--list-devices", options.listDevices, "List the audio output and input devices, then exit");

  CLI::Option_group* render =
      app.add_option_group("Render", "Renders the score to a sound file: vemora [OPTIONS] score.lua");
  render->add_option("score", options.score, "The score to render, a Lua file")
      ->required(!options.listPlugins && !options.listDevices)
      ->type_name("FILE");
  render
      ->add_option("-o,--output", options.output,
                   "Sound file to write (.wav .aif .aiff .flac); overrides the score's rtoutput")
      ->type_name("FILE");
  render
      ->add_option("--sample-format", options.sampleFormat, "Sample format of the file; overrides the score's rtoutput")
      ->check(CLI::IsMember({"16", "24", "float"}))
      ->type_name("FORMAT");
  render->add_flag("-q,--quiet", options.quiet,
                   "Print no progress line, no closing report and no advisories (refusals and errors still show)");
  render
      ->add_flag("-v,--verbose", options.verbose,
                 "Print every advisory as it comes (by default each distinct one is printed once, at the end, "
                 "with the number of notes that gave it)")
      ->excludes("--quiet");
  render
      ->add_option("--dither", options.dither,
                   "Dither of 16- and 24-bit files: tpdf (the default, seeded from the score's seed) or none; "
                   "overrides the score's set_option(\"dither=...\")")
      ->check(CLI::IsMember({"tpdf", "none"}))
      ->type_name("KIND");
  render
      ->add_option("--normalize", options.normalize,
                   "Scale the whole render so that its peak is DBFS (default -1) before the file is written")
      ->expected(0, 1)
      ->type_name("[DBFS]");
  render
      ->add_option("--max-score-steps", options.maxScoreSteps,
                   "Stop a score that runs more than N steps (Lua instructions; 16 bytes allocated, a table "
                   "entry filled or a sample a legacy note writes count one each; 0, the default: no limit); "
                   "the score may set a lower one with set_option(\"max_score_steps=N\")")
      ->type_name("N");

  CLI::Option_group* socket = app.add_option_group(
      "Socket mode", std::string(kSocketUsage) +
                         "\nServes score records on TCP 127.0.0.1 port 1102+N (see vemora-send) until SIGTERM or "
                         "SIGINT, which finish the file. Records reach files only inside the served folder.");
  socket->add_flag("-i")->description("Socket mode: serve score records instead of rendering a score");
  socket->add_flag("-n,-c")->description("Accepted as they are (the engine always writes a file)");
  addGiven(*socket, options.clientStartLine ? "-s,-o" : "-s", options.socketNumber,
           "Socket number, 0 to 64000: the port is 1102+N (after -c, as the client library's start line "
           "gives it, -o N too)")
      ->type_name("N");
  socket
      ->add_option(options.clientStartLine ? "--output" : "-o,--output", options.output,
                   "The session's file until an rtoutput record names another (default vemora-socket-N.wav); "
                   "resolves against the current folder, not confined to the served one")
      ->type_name("FILE");
  socket->add_option("--root", options.root, "Folder served (default the current folder)")->type_name("DIR");
  addGiven(*socket, "--max-session-seconds", options.maxSessionSeconds,
           "Output a session may write, a positive number of seconds (default 21600); reaching it finishes "
           "the file")
      ->type_name("S");
  addGiven(*socket, "--max-rate", options.maxRate,
           "Highest sampling rate set_option records may set, 1000 to 768000 (default 192000)")
      ->type_name("HZ");
  addGiven(*socket, "--max-channels", options.maxChannels,
           "Most channels set_option records may set, 1 to 64 (default 8)")
      ->type_name("N");
  socket
      ->add_option("&>LOG", options.log,
                   "Sends the program's output and messages to LOG, as a shell would (the client library "
                   "passes it when it starts the program without a shell)")
      ->type_name("");

  render->disabled(options.socketMode);
  socket->disabled(!options.socketMode);
}

// A whole number from low to high, or nothing.
std::optional<long> wholeNumber(const std::string& text, long low, long high) {
  char* end = nullptr;
  errno = 0;
  const long number = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE || number < low || number > high) return std::nullopt;
  return number;
}

// The settings socket mode serves with, from its options. The operator's
// own --output is not confined and resolves against the current folder,
// wherever --root points; records' paths resolve against the root.
vemora::ServerSettings serverSettingsFrom(const CommandLine& options) {
  vemora::ServerSettings settings;
  if (!options.socketNumber.given) throw BadOption(std::string("socket mode needs a socket number: ") + kSocketUsage);
  const auto number = wholeNumber(options.socketNumber.text, 0, 64000);
  if (!number) throw BadOption("\"" + options.socketNumber.text + "\" is not a socket number");
  settings.socketNumber = int(*number);
  if (options.maxSessionSeconds.given) {
    const std::string& text = options.maxSessionSeconds.text;
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    // Up to about 30 years, which keeps the count of frames well inside 64 bits.
    if (end == text.c_str() || *end != '\0' || !(seconds > 0.0) || seconds > 1e9)
      throw BadOption("--max-session-seconds: \"" + text + "\" is not a positive number of seconds");
    settings.maxSessionSeconds = seconds;
  }
  if (options.maxRate.given) {
    const auto rate = wholeNumber(options.maxRate.text, 1000, 768000);
    if (!rate)
      throw BadOption("--max-rate: \"" + options.maxRate.text + "\" is not a whole number from 1000 to 768000");
    settings.maxSampleRate = int(*rate);
  }
  if (options.maxChannels.given) {
    const auto channels = wholeNumber(options.maxChannels.text, 1, 64);
    if (!channels)
      throw BadOption("--max-channels: \"" + options.maxChannels.text + "\" is not a whole number from 1 to 64");
    settings.maxChannels = int(*channels);
  }
  const std::filesystem::path here = std::filesystem::current_path();
  const std::string output =
      options.output.empty() ? "vemora-socket-" + std::to_string(settings.socketNumber) + ".wav" : options.output;
  // Heard (--play), a session writes a file only when --output or an
  // rtoutput record names one.
  if (!options.play || !options.output.empty()) settings.defaultOutput = (here / output).string();
  settings.baseFolder = options.root.empty() ? here.string() : (here / options.root).string();
  settings.rootFolder = settings.baseFolder;
  return settings;
}

// "&>LOG" comes from a start without a shell: it asks for what a shell
// would have done, so the program's output and messages go to LOG.
bool sendOutputTo(const std::string& log) {
  if (log.size() <= 2 || log.rfind("&>", 0) != 0)
    throw BadOption("socket mode: unknown argument \"" + log + "\" (" + kSocketUsage + ")");
  const std::string path = log.substr(2);
  if (!std::freopen(path.c_str(), "a", stdout) || !std::freopen(path.c_str(), "a", stderr)) return false;
  setvbuf(stdout, nullptr, _IOLBF, 0);
  return true;
}

// Socket mode: serves score records on TCP port 1102 + N until SIGTERM or
// SIGINT. Any local process can connect, so the files records name are
// kept inside the folder served (the current one, or --root DIR), and the
// session's length, rate and channels have ceilings the operator may move.
int serveSocket(const CommandLine& options) {
  if (!options.log.empty() && !sendOutputTo(options.log)) return kNothingWritten;
  vemora::ServerSettings settings = serverSettingsFrom(options);
  vemora::Engine engine;
  for (const std::string& folder : options.pluginPaths) engine.addPluginPath(folder);
  // What clients ask for (tables, inputs, legacy notes) draws from one
  // budget, so that no client can make the server take the machine.
  engine.setMemoryLimit(memoryLimitFrom(options));
  vemora::LiveSessionReport heard;
  if (options.play) {
    // No device, no session: said now rather than at the first note. The
    // device opens with the first note, at the rate and channels set by then.
    vemora::AudioSystem().find(options.live.device, true);
    // The input device opens with the output, full duplex: a record may
    // name it (rtinput device) until the first note opens the device.
    auto input = std::make_shared<std::shared_ptr<vemora::LiveInput>>();
    auto opened = std::make_shared<bool>(false);
    engine.setInputDeviceOpener([input, opened, wanted = options.live.inputDevice](const vemora::EngineSettings& s) {
      if (*opened)
        throw vemora::ScoreError(
            "rtinput: the input device is heard only when a record names it before the session's first note "
            "(the device is open without it)");
      *input = vemora::findInputDevice(wanted, s);
      return *input;
    });
    settings.openLive = [&engine, live = options.live, &heard, input, opened] {
      *opened = true;
      vemora::LiveOptions opening = live;
      opening.input = *input;
      return vemora::openLiveOutput(opening, engine.settings(), &heard);
    };
  }
  vemora::SocketServer server(engine, settings);
  server.listen();
  std::printf("vemora: serving score records on 127.0.0.1 port %d\n", server.port());
  std::fflush(stdout);
  const int served = server.serve();
  vemora::printLiveSessionReport(heard, engine.settings().sampleRate, engine.settings().blockFrames);
  return served == 0 ? kSuccess : kNothingWritten;
}

int execute(int argc, char** argv) {
  // Past a file size limit a write should fail and be reported, with the
  // temporary file removed, rather than end the program where it stands.
  std::signal(SIGXFSZ, SIG_IGN);
  // A reader of standard output that went away (| head -1) must not end a
  // render: the failed write is reported instead.
  std::signal(SIGPIPE, SIG_IGN);
  CommandLine options;
  options.socketMode = isSocketMode(argc, argv);
  options.listPlugins = hasArgument(argc, argv, "--list-plugins");
  options.clientStartLine = options.socketMode && hasArgument(argc, argv, "-c");
  options.listDevices = hasArgument(argc, argv, "--list-devices");
  CLI::App app{"", "vemora"};
  defineCommandLine(app, options);
  try {
    app.parse(argc, argv);
    // Given without a level, the option holds nothing: the default level.
    if (app.get_option_no_throw("--normalize")->count() > 0 && !options.normalize) options.normalize.emplace();
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
      app.exit(e);  // --help or --version
      return kSuccess;
    }
    printError(e.what());
    std::fprintf(stderr, "Run 'vemora --help' for the options.\n");
    return kNothingWritten;
  }

  try {
    if (options.listDevices) {
      const vemora::AudioSystem audio;
      vemora::printDevices(audio);
      return kSuccess;
    }
    if (options.listPlugins) return listPlugins(options);
    return options.socketMode ? serveSocket(options) : render(options);
  } catch (const Interrupted& stop) {
    printError(std::string("interrupted by ") + signalName(stop.signal) +
               "; the render was stopped and nothing written");
    return 128 + stop.signal;
  } catch (const std::exception& e) {
    printError(e.what());
  } catch (...) {
    printError("unknown failure");
  }
  return kNothingWritten;
}

}  // namespace

VemoraMain::VemoraMain(int argc, char** argv, char** env) : Vemora(argc, argv, env) {}

void VemoraMain::run() {
  // Every object of the run (engine, Lua state, output file or its
  // temporary) is gone when execute returns; only then may the process end.
  const int status = execute(argc, argv);
  if (status != kSuccess) std::exit(status);
}
