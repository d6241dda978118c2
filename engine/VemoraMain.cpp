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
#include <exception>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "Engine.h"
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

struct CommandLine {
  std::string score;
  std::string output;
  std::string sampleFormat;
  std::vector<std::string> pluginPaths;
  bool quiet = false;
  std::string maxScoreSteps;             // empty or 0: no limit
  std::string maxMemory;                 // empty: defaultMemoryLimit()
  std::string dither;                    // empty: the score's choice (set_option), else TPDF
  std::optional<std::string> normalize;  // given: its level, or empty for the default
};

void printError(const std::string& text) { std::fprintf(stderr, "vemora: %s\n", vemora::printable(text).c_str()); }

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
    throw vemora::ScoreError("--max-score-steps: \"" + text + "\" is not a whole number from 0 to " +
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

size_t memoryLimitFrom(const std::string& text) {
  if (text.empty()) return vemora::defaultMemoryLimit();
  const size_t bytes = vemora::parseMemorySize(text);
  if (bytes == 0)
    throw vemora::ScoreError("--max-memory: \"" + text + "\" is not a size (give bytes, or a number with K, M or G)");
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

int render(const CommandLine& options) {
  // An unusable --output is reported before a long score is read.
  if (!options.output.empty()) vemora::outputFormatFor(options.output, options.sampleFormat);
  vemora::Mastering mastering;
  if (!options.dither.empty())
    mastering.dither = options.dither == "none" ? vemora::Dither::None : vemora::Dither::Tpdf;
  if (options.normalize) mastering.normalizeDbfs = normalizeLevelFrom(*options.normalize);

  vemora::Engine engine;
  for (const std::string& folder : options.pluginPaths) engine.addPluginPath(folder);
  const size_t memoryLimit = memoryLimitFrom(options.maxMemory);
  engine.setMemoryLimit(memoryLimit);

  vemora::ScoreLimits limits;
  limits.steps = stepLimitFrom(options.maxScoreSteps);
  limits.memoryBytes = memoryLimit;
  vemora::ScoreReader reader(engine, limits);
  reader.run(options.score);

  if (engine.notesPlayed() == 0) {
    printError("the score played no notes; nothing written");
    return kNothingWritten;
  }

  const std::string path = outputPathFor(options, reader, engine);
  const std::string sample = options.sampleFormat.empty() ? reader.outputSampleFormat() : options.sampleFormat;

  std::optional<ProgressLine> progress;
  if (!options.quiet && isatty(STDERR_FILENO)) progress.emplace(engine.settings().sampleRate);
  const StopSignals stopSignals;
  const vemora::RenderReport report = engine.renderToFile(
      path, sample,
      [&progress, &stopSignals](int64_t done, int64_t inAll) {
        stopSignals.throwIfStopped();
        if (progress) progress->show(done, inAll);
      },
      mastering);
  progress.reset();
  // A stop that came while the file was being finished waited for it: the
  // file is complete, and the status says it was written.
  if (gStopSignal != 0)
    printError(std::string(signalName(gStopSignal)) + " came as " + report.path +
               " was being finished; it was written in full");
  if (!options.quiet) printReport(report);
  // A float file keeps values beyond full scale, but not values that are no
  // number at all: the writer put 0 for NaN and full scale for infinity.
  if (!report.integerFormat && report.clippedSamples > 0)
    printError(report.path + ": " + std::to_string(report.clippedSamples) +
               " samples were NaN or infinite; they were written as 0 (NaN) or full scale (infinite)");
  if (report.inputsChanged > 0)
    printError(report.path + " was written, but an input changed while it was read (see above)");
  return report.notesRefused > 0 || report.inputsChanged > 0 ? kSomeRefused : kSuccess;
}

bool isSocketMode(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]) == "-i") return true;
  return false;
}

constexpr const char* kSocketUsage =
    "vemora -i -n -s N [--output FILE] [--root DIR] [--max-session-seconds S] [--max-rate HZ] "
    "[--max-channels N] [--max-memory SIZE] [--plugin-path DIR]";

// A whole number from low to high, or nothing.
std::optional<long> wholeNumber(const char* text, long low, long high) {
  char* end = nullptr;
  errno = 0;
  const long number = std::strtol(text, &end, 10);
  if (*text == '\0' || *end != '\0' || errno == ERANGE || number < low || number > high) return std::nullopt;
  return number;
}

// vemora -i -n -s N [&>LOG]  or  vemora -i -n -c -o N: serve score records
// on TCP port 1102 + N. -n (no audio device: the engine always writes a
// file) and -c are accepted as they are. An argument "&>LOG" comes from a
// start without a shell: it asks for what a shell would have done, so the
// program's output and messages go to LOG.
//
// Any local process can connect, so the files records name are kept inside
// the folder served (the current one, or --root DIR), and the session's
// length, rate and channels have ceilings the operator may move.
int serveSocket(int argc, char** argv) {
  vemora::ServerSettings settings;
  std::vector<std::string> pluginPaths;
  std::string root;
  std::string maxMemory;
  bool haveNumber = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "-i" || arg == "-n" || arg == "-c") continue;
    if ((arg == "-s" || arg == "-o") && hasValue) {
      char* end = nullptr;
      const long number = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || number < 0 || number > 64000) {
        printError(std::string("\"") + argv[i] + "\" is not a socket number");
        return kNothingWritten;
      }
      settings.socketNumber = int(number);
      haveNumber = true;
    } else if (arg == "--output" && hasValue) {
      settings.defaultOutput = argv[++i];
    } else if (arg == "--root" && hasValue) {
      root = argv[++i];
    } else if (arg == "--max-session-seconds" && hasValue) {
      char* end = nullptr;
      const double seconds = std::strtod(argv[++i], &end);
      // Up to about 30 years, which keeps the count of frames well inside 64 bits.
      if (end == argv[i] || *end != '\0' || !(seconds > 0.0) || seconds > 1e9) {
        printError(std::string("--max-session-seconds: \"") + argv[i] + "\" is not a positive number of seconds");
        return kNothingWritten;
      }
      settings.maxSessionSeconds = seconds;
    } else if (arg == "--max-rate" && hasValue) {
      const auto rate = wholeNumber(argv[++i], 1000, 768000);
      if (!rate) {
        printError(std::string("--max-rate: \"") + argv[i] + "\" is not a whole number from 1000 to 768000");
        return kNothingWritten;
      }
      settings.maxSampleRate = int(*rate);
    } else if (arg == "--max-channels" && hasValue) {
      const auto channels = wholeNumber(argv[++i], 1, 64);
      if (!channels) {
        printError(std::string("--max-channels: \"") + argv[i] + "\" is not a whole number from 1 to 64");
        return kNothingWritten;
      }
      settings.maxChannels = int(*channels);
    } else if (arg == "--plugin-path" && hasValue) {
      pluginPaths.push_back(argv[++i]);
    } else if (arg == "--max-memory" && hasValue) {
      maxMemory = argv[++i];
      if (maxMemory.empty()) maxMemory = "none";  // refused below, not taken as the default
    } else if (arg.rfind("&>", 0) == 0 && arg.size() > 2) {
      const std::string log = arg.substr(2);
      if (!std::freopen(log.c_str(), "a", stdout) || !std::freopen(log.c_str(), "a", stderr)) return kNothingWritten;
      setvbuf(stdout, nullptr, _IOLBF, 0);
    } else {
      printError("socket mode: unknown argument \"" + arg + "\" (" + kSocketUsage + ")");
      return kNothingWritten;
    }
  }
  if (!haveNumber) {
    printError(std::string("socket mode needs a socket number: ") + kSocketUsage);
    return kNothingWritten;
  }
  if (settings.defaultOutput.empty())
    settings.defaultOutput = "vemora-socket-" + std::to_string(settings.socketNumber) + ".wav";
  const std::filesystem::path here = std::filesystem::current_path();
  // The operator's own --output is not confined and resolves against the
  // current folder, wherever --root points; records' paths resolve
  // against the root.
  settings.defaultOutput = (here / settings.defaultOutput).string();
  settings.baseFolder = root.empty() ? here.string() : (here / root).string();
  settings.rootFolder = settings.baseFolder;
  vemora::Engine engine;
  for (const std::string& folder : pluginPaths) engine.addPluginPath(folder);
  // What clients ask for (tables, inputs, legacy notes) draws from one
  // budget, so that no client can make the server take the machine.
  engine.setMemoryLimit(memoryLimitFrom(maxMemory));
  vemora::SocketServer server(engine, settings);
  server.listen();
  std::printf("vemora: serving score records on 127.0.0.1 port %d\n", server.port());
  std::fflush(stdout);
  return server.serve() == 0 ? kSuccess : kNothingWritten;
}

int execute(int argc, char** argv) {
  // Past a file size limit a write should fail and be reported, with the
  // temporary file removed, rather than end the program where it stands.
  std::signal(SIGXFSZ, SIG_IGN);
  // A reader of standard output that went away (| head -1) must not end a
  // render: the failed write is reported instead.
  std::signal(SIGPIPE, SIG_IGN);
  if (isSocketMode(argc, argv)) {
    try {
      return serveSocket(argc, argv);
    } catch (const std::exception& e) {
      printError(e.what());
      return kNothingWritten;
    }
  }
  CommandLine options;
  CLI::App app{"Renders a score (a Lua script) to a sound file.", "vemora"};
  app.footer(std::string("Socket mode: ") + kSocketUsage +
             "\nserves score records on TCP 127.0.0.1 port 1102+N (see vemora-send); records reach files only\n"
             "inside the current folder (or --root DIR); SIGTERM or SIGINT finishes the file.");
  app.set_version_flag("--version", "vemora " VEMORA_VERSION);
  app.add_option("score", options.score, "The score to render, a Lua file")->required()->type_name("FILE");
  app.add_option("-o,--output", options.output,
                 "Sound file to write (.wav .aif .aiff .flac); overrides the score's rtoutput")
      ->type_name("FILE");
  app.add_option("--sample-format", options.sampleFormat, "Sample format of the file; overrides the score's rtoutput")
      ->check(CLI::IsMember({"16", "24", "float"}))
      ->type_name("FORMAT");
  app.add_option("--plugin-path", options.pluginPaths,
                 "Folder searched for plug-ins before the others (repeatable)")
      ->allow_extra_args(false)  // one folder per --plugin-path, never the score
      ->type_name("DIR");
  app.add_flag("-q,--quiet", options.quiet, "Print no progress line and no closing report");
  app.add_option("--dither", options.dither,
                 "Dither of 16- and 24-bit files: tpdf (the default, seeded from the score's seed) or none; "
                 "overrides the score's set_option(\"dither=...\")")
      ->check(CLI::IsMember({"tpdf", "none"}))
      ->type_name("KIND");
  CLI::Option* normalize =
      app.add_option("--normalize", options.normalize,
                     "Scale the whole render so that its peak is DBFS (default -1) before the file is written")
          ->expected(0, 1)
          ->type_name("[DBFS]");
  app.add_option("--max-score-steps", options.maxScoreSteps,
                 "Stop a score that runs more than N steps (Lua instructions; 16 bytes allocated, a table "
                 "entry filled or a sample a legacy note writes count one each; 0, the default: no limit); "
                 "the score may set a lower one with set_option(\"max_score_steps=N\")")
      ->type_name("N");
  app.add_option("--max-memory", options.maxMemory,
                 "Memory that tables, inputs and legacy notes may take in all (bytes, or a number with K, M "
                 "or G; default half the machine's memory); asking for more is an error naming the line")
      ->type_name("SIZE");

  try {
    app.parse(argc, argv);
    // Given without a level, the option holds nothing: the default level.
    if (normalize->count() > 0 && !options.normalize) options.normalize.emplace();
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
    return render(options);
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
