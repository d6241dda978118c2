#include "Engine.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <limits>
#include <regex>
#include <set>
#include <utility>

#include "FileSink.h"
#include "FloatScratch.h"
#include "FunctionTables.h"
#include "GenRoutines.h"
#include "LegacyNote.h"
#include "MemoryBudget.h"
#include "MessageLog.h"
#include "NoteRunner.h"
#include "PluginCalls.h"
#include "PluginLoader.h"
#include "Registry.h"
#include "Renderer.h"
#include "ResampledSoundInput.h"
#include "SoundOutput.h"
#include "wavekit.h"

namespace vemora {
namespace {

// Instruments may read a few pfields past those given; they read 0.
constexpr size_t kMinPFieldSlots = 64;
constexpr int kMaxChannels = 64;

class MemorySink : public OutputSink {
 public:
  std::vector<float> frames;
  void write(const float* interleaved, int n) override {
    frames.insert(frames.end(), interleaved, interleaved + size_t(n) * size_t(channels));
  }
  int channels = 0;
};

long parseInteger(const std::string& key, const std::string& value, long low, long high) {
  char* end = nullptr;
  errno = 0;
  long number = std::strtol(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0' || errno == ERANGE || number < low || number > high)
    throw ScoreError("set_option: " + key + " must be a whole number from " + std::to_string(low) + " to " +
                     std::to_string(high) + ", not \"" + value + "\"");
  return number;
}

// "on" or "off", "tpdf" or "none": one of two words.
bool parseChoice(const std::string& key, const std::string& value, const char* yes, const char* no) {
  if (value == yes) return true;
  if (value == no) return false;
  throw ScoreError("set_option: " + key + " must be " + yes + " or " + no + ", not \"" + value + "\"");
}

// "out0-1" -> {0, 1}; "in3" -> {3}.
std::vector<int> parseBus(const std::string& text, std::string* kind) {
  static const std::regex pattern("(in|out)([0-9]{1,3})(?:-([0-9]{1,3}))?");
  std::smatch match;
  if (!std::regex_match(text, match, pattern))
    throw ScoreError("bus_config: \"" + text + "\" is not a bus (write in0, in0-1, out0-1 ...)");
  *kind = match[1];
  const int first = std::stoi(match[2]);
  const int last = match[3].matched ? std::stoi(match[3]) : first;
  if (last < first) throw ScoreError("bus_config: \"" + text + "\" runs backwards");
  std::vector<int> channels;
  for (int c = first; c <= last; ++c) channels.push_back(c);
  return channels;
}

}  // namespace

void InstrumentDeleter::operator()(Instrument* inst) const { delete inst; }

// The engine's own state: the parts, each a class of its own file, and the
// bookkeeping that ties them together.
struct Engine::Impl {
  // First, so that it goes last: every note and instrument made in it is
  // gone before it.
  RecordPool records;
  EngineSettings settings;
  MessageLog log;
  Registry registry;
  PluginLoader loader;
  FunctionTables tables;
  MemoryBudget memory;
  PluginHost host{log, registry, tables, records};
  NoteContext noteContext{log};
  struct LoadedPlugin {
    void* handle;
    std::vector<std::string> registered;  // the names it registered
  };
  std::map<std::string, LoadedPlugin> loadedPlugins;

  // Every file opened as input: outputs must not replace one, and one opened
  // again while still in use is shared.
  struct OpenedInput {
    FileIdentity identity;
    std::string name;
    std::weak_ptr<SoundInput> input;
  };
  std::vector<OpenedInput> inputsOpened;
  Engine::InputDeviceOpener openInputDevice;
  std::shared_ptr<SoundInput> inputDevice;  // once a score named it
  int inputsChanged = 0;
  std::vector<std::string> inputsResampled;  // for the closing report
  std::set<std::string> resampleAdvised;

  NoteTally tally;
  NoteRunner runner{log, tally};
  // Made with the first note (or stream), when the settings are final; it
  // owns every note until they have sounded.
  std::unique_ptr<Renderer> renderer;
  bool streaming = false;
  OutputSink* streamSink = nullptr;
  int64_t legacySamplesWritten = 0;  // in all, rendered or not

  void applySettings();  // the statics plug-ins read, and the random seed
  // Makes this engine the one that plug-in calls reach (several engines may
  // live in one process; the one in use is the current one).
  void activate();
  Renderer& theRenderer();
  // Where a note played now has its start time count from.
  int64_t origin() const { return renderer ? renderer->position() : 0; }
  int64_t endFrame() const { return renderer ? renderer->endFrame() : 0; }
  void render(OutputSink& sink, const std::function<void(int64_t)>& betweenBlocks);
  // Renders into writer with the whole render scaled so that its peak is
  // targetDbfs; returns the gain.
  double renderNormalized(SoundFileWriter& writer, double targetDbfs,
                          const std::function<void(int64_t)>& betweenBlocks);
  std::unique_ptr<RealtimeNote> makeNote(const std::string& name, std::span<PField> pfields);
  // Makes input the one that the following notes read; throws ScoreError
  // when it runs at another rate than the render and cannot be resampled.
  void useInput(std::shared_ptr<SoundInput> input);
  // input as the render hears it: as it is, resampled from its file's own
  // rate, or refused as useInput says.
  std::shared_ptr<SoundInput> atRenderRate(const std::shared_ptr<SoundInput>& input);
  // After the rate or the resample option changed: the current input again,
  // at the new rate. One that no longer fits is kept as it is, for its
  // notes to be refused.
  void readaptInput();
  // A table whose memory is charged to the budget while it lives.
  TablePtr chargedTable(const std::string& command, int number, long long size, const std::vector<double>& args);
};

void Engine::Impl::applySettings() {
  activate();
  noteContext.outputChannels = settings.channels;
  srrand(settings.seed);
}

namespace {

// drand48, the score functions' generator (scoremath's), from the seed: seed
// 0 is the state the C library gives it before anything seeds it (all
// zeros), so a score that sets no seed draws what it always drew; seed N
// starts it from srand48(N).
void seedScoreFunctions(unsigned seed) {
  if (seed == 0) {
    unsigned short unseeded[3] = {0, 0, 0};
    seed48(unseeded);
  } else {
    srand48(long(seed));
  }
}

}  // namespace

void Engine::Impl::activate() {
  usePluginHost(&host);
  Instrument::SR = float(settings.sampleRate);
  Instrument::RTBUFSAMPS = settings.blockFrames;
  resetval = settings.controlRate;
}

Renderer& Engine::Impl::theRenderer() {
  if (!renderer) renderer = std::make_unique<Renderer>(settings.blockFrames, settings.channels, runner);
  return *renderer;
}

void Engine::Impl::render(OutputSink& sink, const std::function<void(int64_t)>& betweenBlocks) {
  theRenderer().renderAll(sink, betweenBlocks);
  renderer.reset();  // its notes have sounded; notes played later start a new render
}

// The render goes to a float scratch file first: its peak is known only at
// its end. Gain and dither then meet the samples in one step, at the
// writer's rounding, so that no quantisation happens before the gain and
// no dither is amplified by it.
double Engine::Impl::renderNormalized(SoundFileWriter& writer, double targetDbfs,
                                      const std::function<void(int64_t)>& betweenBlocks) {
  FloatScratch scratch(writer.path(), settings.channels);
  int64_t end = 0;
  render(scratch, [&](int64_t next) {
    end = next;
    if (betweenBlocks) betweenBlocks(next);
  });
  const double gain = normalizingGain(scratch.peak(), targetDbfs);
  FileSink sink(writer);
  // The caller's progress stays at the end; through it the caller may
  // still stop the second pass.
  scratch.replay(gain, sink, [&] {
    if (betweenBlocks) betweenBlocks(end);
  });
  return gain;
}

std::unique_ptr<RealtimeNote> Engine::Impl::makeNote(const std::string& name, std::span<PField> pfields) {
  InstCreatorFunction factory = registry.instrument(name);
  if (!factory) throw ScoreError("no instrument named " + name + " has been loaded");
  log.noteBegins();
  std::unique_ptr<RealtimeNote> note(new (records) RealtimeNote);
  note->state.context = &noteContext;
  note->state.name = name;
  noteContext.origin = origin();
  note->state.pfields = pfields;
  const int nargs = int(note->state.pfields.size());
  // The pfields init reads, on the stack unless a note has more than the
  // usual slots: a note is made for every line of a score.
  std::array<double, kMinPFieldSlots> slots{};
  std::vector<double> moreSlots;
  double* p = slots.data();
  if (size_t(nargs) > slots.size()) {
    moreSlots.assign(size_t(nargs), 0.0);
    p = moreSlots.data();
  }
  for (int i = 0; i < nargs; ++i) p[i] = note->state.pfields[size_t(i)].value;

  int result = -1;
  try {
    const PluginCallScope scope(&note->state);
    note->inst.reset(factory());
    if (note->inst) {
      note->inst->noteState = &note->state;
      if (note->state.outChannels.empty()) note->inst->set_bus_config(name.c_str());
      // The control period in single precision, as instruments compute their own.
      note->inst->ctrlSkip = int(float(settings.sampleRate) / float(settings.controlRate));
      result = note->inst->init(p, nargs);
    }
  } catch (...) {
    log.report(MessageKind::Refusal, name, "the instrument failed while setting up the note");
    result = -1;
  }
  if (result >= 0 && note->inst && !note->state.placed) {
    log.report(MessageKind::Refusal, name, "the instrument did not place its note");
    result = -1;
  }
  if (result < 0 || !note->inst) return nullptr;
  return note;
}

Engine::Engine(EngineSettings settings) : impl(std::make_unique<Impl>()) {
  impl->settings = settings;
  impl->applySettings();
  seedScoreFunctions(settings.seed);
}

Engine::~Engine() {
  impl->activate();  // instruments still held are destroyed with their own engine current
  impl->renderer.reset();
  forgetPluginHost(&impl->host);
}

const EngineSettings& Engine::settings() const { return impl->settings; }

void Engine::setOption(const std::string& text) {
  // The renderer is made for the settings of the first note (or stream).
  if (impl->tally.played + impl->tally.refused > 0 || impl->renderer)
    throw ScoreError("set_option: options must come before the first note");
  const size_t equals = text.find('=');
  if (equals == std::string::npos) throw ScoreError("set_option: \"" + text + "\" is not of the form name=value");
  const std::string key = text.substr(0, equals);
  const std::string value = text.substr(equals + 1);
  EngineSettings next = impl->settings;
  if (key == "sr") {
    next.sampleRate = int(parseInteger(key, value, 1000, 768000));
  } else if (key == "channels") {
    next.channels = int(parseInteger(key, value, 1, kMaxChannels));
    for (const auto& [name, config] : impl->noteContext.busConfigs)
      for (int c : config.outChannels)
        if (c >= next.channels)
          throw ScoreError("set_option: the bus configuration of " + name + " uses output channel " +
                           std::to_string(c));
  } else if (key == "block") {
    next.blockFrames = int(parseInteger(key, value, 1, 65536));
  } else if (key == "control_rate") {
    next.controlRate = int(parseInteger(key, value, 1, 100000000));
  } else if (key == "seed") {
    next.seed = unsigned(parseInteger(key, value, 0, std::numeric_limits<unsigned>::max()));
  } else if (key == "resample") {
    next.resample = parseChoice(key, value, "on", "off");
  } else if (key == "dither") {
    next.dither = parseChoice(key, value, "tpdf", "none") ? Dither::Tpdf : Dither::None;
  } else {
    throw ScoreError("set_option: unknown option \"" + key +
                     "\" (known: sr, channels, block, control_rate, seed, resample, dither)");
  }
  impl->settings = next;
  impl->applySettings();
  if (key == "seed") seedScoreFunctions(next.seed);
  if (key == "sr" || key == "resample") impl->readaptInput();
}

void Engine::setEchoMessages(bool echo) { impl->log.setEcho(echo); }
void Engine::setScoreLocation(const std::string& where) { impl->log.setWhere(where); }
void Engine::setScoreLocation(std::function<std::string()> findWhere) { impl->log.setWhere(std::move(findWhere)); }
void Engine::setAdvisoryEcho(AdvisoryEcho mode) { impl->log.setAdvisoryEcho(mode); }
void Engine::printAdvisorySummary() { impl->log.printAdvisorySummary(); }
const std::vector<Message>& Engine::messages() const { return impl->log.messages(); }
void Engine::clearMessages() { impl->log.clear(); }

void Engine::addPluginPath(const std::string& folder) { impl->loader.addFolder(folder); }
std::vector<std::string> Engine::pluginSearchPath() const { return impl->loader.searchPath(); }

std::vector<std::string> Engine::load(const std::string& name) {
  impl->activate();
  // Loading a plug-in twice registers nothing new.
  auto loaded = impl->loadedPlugins.find(name);
  if (loaded != impl->loadedPlugins.end()) return loaded->second.registered;
  const PluginLoader::Opened plugin = impl->loader.open(name);
  void* handle = plugin.handle;
  auto rtprofile = reinterpret_cast<void (*)()>(dlsym(handle, "rtprofile"));
  auto profile = reinterpret_cast<int (*)()>(dlsym(handle, "profile"));
  impl->registry.takeNewNames();
  if (rtprofile) rtprofile();
  if (profile) profile();
  if (!rtprofile && !profile) {
    // A plug-in with a factory alone is bound by the host under its own name.
    auto factory = reinterpret_cast<InstCreatorFunction>(dlsym(handle, ("make" + name).c_str()));
    if (!factory) {
      // Nothing of it was called: a library that is no plug-in goes again.
      dlclose(handle);
      throw ScoreError("load: " + plugin.path + " is not a plug-in: it has none of rtprofile, profile or make" + name);
    }
    bindInstrument(name, factory);
    return (impl->loadedPlugins[name] = {handle, {name}}).registered;
  }
  return (impl->loadedPlugins[name] = {handle, impl->registry.takeNewNames()}).registered;
}

std::vector<Engine::PluginInfo> Engine::listPlugins() {
  std::vector<PluginInfo> list;
  for (const std::string& name : impl->loader.available()) {
    PluginInfo info{name, "", "", {}};
    try {
      info.registers = load(name);
      void* handle = impl->loadedPlugins.at(name).handle;
      auto text = [handle](const char* symbol) {
        auto* value = static_cast<const char* const*>(dlsym(handle, symbol));
        return value && *value ? std::string(*value) : std::string();
      };
      info.kind = text("vemora_plugin_kind");
      info.summary = text("vemora_plugin_summary");
      const bool instruments = std::any_of(info.registers.begin(), info.registers.end(),
                                           [this](const std::string& n) { return hasInstrument(n); });
      if (info.kind.empty()) info.kind = instruments ? "instrument" : "functions";
    } catch (const ScoreError& error) {
      info.kind = std::string("cannot be loaded: ") + error.what();
    }
    list.push_back(std::move(info));
  }
  return list;
}

void Engine::bindInstrument(const std::string& name, InstCreatorFunction factory) {
  if (!impl->registry.addInstrument(name, factory)) throw ScoreError("the name \"" + name + "\" is already registered");
}

bool Engine::hasInstrument(const std::string& name) const { return impl->registry.instrument(name) != nullptr; }
bool Engine::hasFunction(const std::string& name) const { return impl->registry.function(name) != nullptr; }

TablePtr Engine::Impl::chargedTable(const std::string& command, int number, long long size,
                                    const std::vector<double>& args) {
  // The table and its charge live and go together.
  struct Charged {
    FunctionTable table;
    MemoryCharge charge;
  };
  auto owner = std::make_shared<Charged>();
  // A size out of range is the gen routine's to refuse, in its own words.
  if (size > 0 && size <= kMaxTableSize)
    owner->charge = memory.take(size_t(size) * sizeof(double),
                                [&] { return command + "a table of " + std::to_string(size) + " entries"; });
  owner->table.values = makeGenTable(number, size, args);
  return TablePtr(owner, &owner->table);
}

void Engine::makeTable(int slot, int number, long long size, const std::vector<double>& args) {
  impl->activate();
  if (slot < 1) throw ScoreError("gen: table slot " + std::to_string(slot) + " must be 1 or more");
  try {
    // A score may remake one slot before every note. When nothing else
    // holds the slot's table and the size stays, the table is refilled where
    // it is, under the charge it already has.
    FunctionTable* table = impl->tables.unshared(slot);
    if (table && size > 0 && table->values.size() == size_t(size)) {
      remakeGenTable(table->values, number, size, args);
      return;
    }
    impl->tables.set(slot, impl->chargedTable("", number, size, args));
  } catch (const GenError& error) {
    throw ScoreError(error.what());
  } catch (const MemoryRefused& error) {
    throw ScoreError(error.what());
  }
}

TablePtr Engine::makePFieldTable(int number, long long size, const std::vector<double>& args) {
  try {
    return impl->chargedTable("tab: ", number, size, args);
  } catch (const GenError& error) {
    throw ScoreError(std::string("tab: ") + error.what());
  } catch (const MemoryRefused& error) {
    throw ScoreError(error.what());
  }
}

void Engine::setTable(int slot, std::vector<double> values) {
  impl->activate();
  auto table = std::make_shared<FunctionTable>();
  table->values = std::move(values);
  impl->tables.set(slot, std::move(table));
}

void Engine::setInput(const std::string& path) {
  impl->activate();
  const std::optional<FileIdentity> identity = identityOf(path);
  if (identity) {
    for (const Impl::OpenedInput& opened : impl->inputsOpened) {
      if (!opened.identity.unchangedFrom(*identity)) continue;
      if (std::shared_ptr<SoundInput> live = opened.input.lock()) {
        impl->useInput(std::move(live));
        return;
      }
    }
  }
  try {
    std::string damage;
    std::shared_ptr<SoundInput> input = openSoundInput(path, &damage, &impl->memory);
    impl->useInput(input);
    if (!damage.empty()) impl->log.report(MessageKind::Advice, "rtinput", damage);
  } catch (const SoundFileError& error) {
    throw ScoreError(error.what());
  } catch (const MemoryRefused& error) {
    throw ScoreError(error.what());
  }
}

void Engine::setInputDeviceOpener(InputDeviceOpener opener) { impl->openInputDevice = std::move(opener); }

void Engine::useInputDevice() {
  impl->activate();
  if (!impl->openInputDevice)
    throw ScoreError(
        "rtinput: \"device\" is the input device, heard only while the score plays (vemora --play); a file "
        "named device is read as rtinput(\"./device\")");
  if (!impl->inputDevice) impl->inputDevice = impl->openInputDevice(impl->settings);
  impl->useInput(impl->inputDevice);
}

void Engine::setInput(std::unique_ptr<SoundInput> input) {
  impl->activate();
  impl->useInput(std::move(input));
}

std::shared_ptr<SoundInput> Engine::Impl::atRenderRate(const std::shared_ptr<SoundInput>& input) {
  const double rate = double(settings.sampleRate);
  const std::shared_ptr<SoundInput> original = unresampled(input);
  if (original->sampleRate() == rate) return original;
  // Only files are resampled: a host that hands over frames has them, and
  // converts them as it sees fit.
  if (!settings.resample || !original->fileIdentity()) {
    char text[64];
    std::snprintf(text, sizeof text, "%g Hz but the render runs at %d Hz", original->sampleRate(), settings.sampleRate);
    throw ScoreError("rtinput: \"" + original->name() + "\" runs at " + text);
  }
  if (input->sampleRate() == rate) return input;
  std::shared_ptr<SoundInput> resampled;
  try {
    resampled = resampledSoundInput(original, settings.sampleRate, &memory);
  } catch (const SoundFileError& error) {
    throw ScoreError(error.what());
  } catch (const MemoryRefused& error) {
    throw ScoreError(error.what());
  }
  // Said once per file, however often the score opens it again.
  char rates[64];
  std::snprintf(rates, sizeof rates, "%g Hz resampled to %d Hz", original->sampleRate(), settings.sampleRate);
  const std::string advice = original->name() + ": " + rates;
  if (resampleAdvised.insert(advice).second) log.report(MessageKind::Advice, "rtinput", advice);
  char from[32];
  std::snprintf(from, sizeof from, " (%g Hz)", original->sampleRate());
  const std::string entry = original->name() + from;
  if (std::find(inputsResampled.begin(), inputsResampled.end(), entry) == inputsResampled.end())
    inputsResampled.push_back(entry);
  return resampled;
}

void Engine::Impl::readaptInput() {
  if (!noteContext.input) return;
  try {
    useInput(noteContext.input);
  } catch (const ScoreError&) {
    noteContext.input = unresampled(noteContext.input);
  }
}

void Engine::Impl::useInput(std::shared_ptr<SoundInput> next) {
  if (next) next = atRenderRate(next);
  if (next && next->fileIdentity()) {
    const bool known = std::any_of(inputsOpened.begin(), inputsOpened.end(),
                                   [&](const OpenedInput& opened) { return opened.input.lock() == next; });
    if (!known) {
      next->watch([this](const std::string& text) {
        ++inputsChanged;
        log.report(MessageKind::Error, "rtinput", text);
      });
      inputsOpened.push_back({*next->fileIdentity(), next->name(), next});
    }
  }
  noteContext.input = std::move(next);
}

void Engine::checkOutputIsNoInput(const std::string& path) const {
  const std::optional<FileIdentity> output = identityOf(path);
  if (!output) return;
  for (const Impl::OpenedInput& opened : impl->inputsOpened)
    if (opened.identity.sameFile(*output))
      throw ScoreError("rtoutput: \"" + path + "\" is the same file as the input \"" + opened.name +
                       "\"; writing it would replace what the render reads (choose another output name)");
}

int Engine::inputsChanged() const { return impl->inputsChanged; }

void Engine::setMemoryLimit(size_t bytes) { impl->memory.setLimit(bytes); }
size_t Engine::memoryHeld() const { return impl->memory.held(); }

void Engine::busConfig(const std::string& instrument, const std::vector<std::string>& buses) {
  BusConfig config;
  for (const std::string& bus : buses) {
    std::string kind;
    std::vector<int> channels = parseBus(bus, &kind);
    std::vector<int>& target = kind == "in" ? config.inChannels : config.outChannels;
    target.insert(target.end(), channels.begin(), channels.end());
  }
  for (int c : config.outChannels)
    if (c >= impl->settings.channels)
      throw ScoreError("bus_config: output channel " + std::to_string(c) + " does not exist (the output has " +
                       std::to_string(impl->settings.channels) + " channels)");
  impl->noteContext.busConfigs[instrument] = std::move(config);
}

bool Engine::playNote(const std::string& name, std::vector<PField> pfields) {
  return playNote(name, std::span<PField>(pfields));
}

bool Engine::playNote(const std::string& name, std::span<PField> pfields) {
  impl->activate();
  std::unique_ptr<RealtimeNote> note = impl->makeNote(name, pfields);
  if (!note) {
    ++impl->tally.refused;
    return false;
  }
  ++impl->tally.played;
  if (note->frames() == 0) ++impl->tally.ofNoLength;
  impl->theRenderer().add(std::move(note));
  return true;
}

double Engine::callFunction(const std::string& name, const std::vector<double>& args) {
  impl->activate();
  LegacyFunction fn = impl->registry.function(name);
  if (!fn) throw ScoreError("no function named " + name + " has been loaded");
  impl->log.noteBegins();
  impl->log.holdLines();
  LegacyCall call = callLegacyFunction(impl->noteContext, name, fn, args, impl->origin());
  // A score function that refused has no value to give: the score stops
  // there. A note the engine would not place is a refused note like any other.
  const bool scoreError = call.died && !call.placedOutput && !call.placementRefused;
  impl->log.releaseLines(scoreError);
  if (scoreError) throw ScoreError(name + ": " + call.dieText);
  if (call.placedOutput && !call.refused) {
    // The note's output waits in memory for the render.
    try {
      call.note.charge = impl->memory.take(call.note.frames.size() * sizeof(float), [&] {
        return name + ": its note of " + std::to_string(call.note.frames.size()) + " samples";
      });
    } catch (const MemoryRefused& error) {
      impl->log.report(MessageKind::Refusal, name, error.what());
      call.refused = true;
    }
  }
  if (call.refused) {
    ++impl->tally.refused;
  } else if (call.placedOutput) {
    ++impl->tally.played;
    if (call.note.frames.empty()) ++impl->tally.ofNoLength;
    impl->legacySamplesWritten += int64_t(call.note.frames.size());
    impl->theRenderer().add(std::move(call.note));
  }
  return call.value;
}

void Engine::render(OutputSink& sink, const std::function<void(int64_t)>& betweenBlocks) {
  impl->activate();
  impl->render(sink, betweenBlocks);
}

std::vector<float> Engine::renderToMemory() {
  impl->activate();
  MemorySink sink;
  sink.channels = impl->settings.channels;
  impl->render(sink, {});
  return std::move(sink.frames);
}

RenderReport Engine::renderToFile(const std::string& path, const std::string& sampleText,
                                  const std::function<void(int64_t, int64_t)>& progress, const Mastering& mastering) {
  impl->activate();
  RenderReport report;
  try {
    const OutputFormat format = outputFormatFor(path, sampleText);
    checkOutputIsNoInput(path);
    const int64_t total = impl->endFrame();
    SoundFileWriter writer(path, format, impl->settings.channels, impl->settings.sampleRate, total);
    if (mastering.dither.value_or(impl->settings.dither) == Dither::Tpdf) writer.ditherWith(impl->settings.seed);
    const auto begin = std::chrono::steady_clock::now();
    std::function<void(int64_t)> betweenBlocks;
    if (progress) betweenBlocks = [&](int64_t done) { progress(done, total); };
    if (mastering.normalizeDbfs) {
      report.normalizeGain = impl->renderNormalized(writer, *mastering.normalizeDbfs, betweenBlocks);
    } else {
      FileSink sink(writer);
      impl->render(sink, betweenBlocks);
    }
    writer.commit();
    report.renderSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    report.path = writer.path();
    report.frames = writer.framesWritten();
    report.peaks = writer.peaks();
    report.clippedSamples = writer.clippedSamples();
    report.integerFormat = format.sample != SampleFormat::Float32;
  } catch (const SoundFileError& error) {
    throw ScoreError(error.what());
  }
  report.channels = impl->settings.channels;
  report.sampleRate = impl->settings.sampleRate;
  report.notesPlayed = impl->tally.played;
  report.notesRefused = impl->tally.refused;
  report.notesOfNoLength = impl->tally.ofNoLength;
  report.inputsChanged = impl->inputsChanged;
  report.inputsResampled = impl->inputsResampled;
  return report;
}

int64_t Engine::scoreFrames() const { return impl->endFrame(); }

int64_t Engine::legacySamplesWritten() const { return impl->legacySamplesWritten; }

void Engine::openStream(OutputSink& sink) {
  impl->activate();
  impl->theRenderer();
  impl->streaming = true;
  impl->streamSink = &sink;
}

int Engine::renderStreamBlock() {
  impl->activate();
  if (!impl->streaming) return 0;
  return impl->renderer->renderBlock(std::numeric_limits<int64_t>::max(), *impl->streamSink);
}

int64_t Engine::streamPosition() const { return impl->streaming ? impl->renderer->position() : 0; }

bool Engine::streamIdle() const { return !impl->streaming || impl->renderer->idle(); }

void Engine::closeStream() {
  if (!impl->streaming) return;
  impl->renderer.reset();
  impl->streaming = false;
  impl->streamSink = nullptr;
}

NoteCapture Engine::playNoteAlone(const std::string& name, std::vector<PField> pfields,
                                  const std::vector<int>& chunkSizes) {
  impl->activate();
  if (chunkSizes.empty()) throw ScoreError("playNoteAlone: give at least one chunk size");
  for (int size : chunkSizes)
    if (size <= 0 || size > impl->settings.blockFrames)
      throw ScoreError("playNoteAlone: chunk sizes must lie between 1 and the block length");
  NoteCapture capture;
  std::unique_ptr<RealtimeNote> note = impl->makeNote(name, std::span<PField>(pfields));
  if (!note) {
    capture.refused = true;
    capture.initResult = -1;
    ++impl->tally.refused;
    return capture;
  }
  ++impl->tally.played;
  const int total = note->frames();
  capture.initResult = total;
  capture.noteFrames = total;
  capture.outChannels = note->inst->outChanCount;
  capture.frames.assign(size_t(total) * size_t(capture.outChannels), 0.0f);
  for (size_t k = 0; total == 0 ? !note->ranOnce : note->framesDone < total; ++k) {
    const int n = std::min(chunkSizes[k % chunkSizes.size()], total - note->framesDone);
    int result = 0;
    if (!impl->runner.runChunk(*note, n, &result)) {
      capture.refused = true;
      break;
    }
    capture.chunkSizes.push_back(n);
    capture.runResults.push_back(result);
    std::copy_n(impl->runner.chunk(), size_t(n) * size_t(capture.outChannels),
                capture.frames.data() + size_t(note->framesDone) * size_t(capture.outChannels));
    note->framesDone += n;
  }
  return capture;
}

int Engine::notesPlayed() const { return impl->tally.played; }
int Engine::notesRefused() const { return impl->tally.refused; }

int takeBangReady() { return std::exchange(bang_ready, 0); }

}  // namespace vemora
