// The engine's private state, shared by the files that each keep one part of
// it (notes, tables, plug-ins, legacy notes, rendering). Plug-ins never see it.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Engine.h"
#include "FunctionTables.h"
#include "LegacyNote.h"
#include "MemoryBudget.h"
#include "Note.h"
#include "PluginLoader.h"
#include "Registry.h"

namespace vemora {

class Renderer;

struct BusConfig {
  std::vector<int> inChannels;   // empty: every channel of the input
  std::vector<int> outChannels;  // empty: every output channel, in order
};

struct Engine::Impl {
  EngineSettings settings;
  bool echoMessages = true;
  std::string where;
  std::vector<Message> messages;
  // While a legacy function runs its messages wait: when it turns out to be
  // a score function that refused, the score error says it instead.
  bool deferEcho = false;
  std::vector<std::pair<MessageKind, std::string>> deferredLines;
  void releaseDeferred(bool dropRefusals);

  Registry registry;
  PluginLoader loader;
  FunctionTables tables;
  MemoryBudget memory;
  std::shared_ptr<SoundInput> input;
  // Every file opened as input: outputs must not replace one, and one opened
  // again while still in use is shared.
  struct OpenedInput {
    FileIdentity identity;
    std::string name;
    std::weak_ptr<SoundInput> input;
  };
  std::vector<OpenedInput> inputsOpened;
  int inputsChanged = 0;
  std::map<std::string, BusConfig> busConfigs;
  std::map<std::string, std::vector<std::string>> loadedPlugins;  // name -> names it registered

  std::vector<std::unique_ptr<RealtimeNote>> pending;  // initialised, not yet rendered
  std::vector<BufferedNote> buffered;                  // legacy notes, fully written
  int64_t legacySamplesWritten = 0;                    // in all, rendered or not
  std::vector<float> chunkBuffer;                      // the chunk each note's run writes, one note after another
  int played = 0;
  int refused = 0;

  // An open live stream; notes are then placed from its position.
  std::unique_ptr<Renderer> stream;
  OutputSink* streamSink = nullptr;

  void applySettings();  // the statics plug-ins read, and the random seed
  // Makes this engine the one that plug-in calls reach (several engines may
  // live in one process; the one in use is the current one).
  void activate();
  void render(OutputSink& sink, const std::function<void(int64_t)>& betweenBlocks);
  // Runs one chunk of n frames (configuring the note first if needed).
  // Returns false when the note could not go on and must be dropped.
  bool runChunk(RealtimeNote& note, int n, int* runResult);
  void report(MessageKind kind, const std::string& name, const std::string& text);
  std::unique_ptr<RealtimeNote> makeNote(const std::string& name, std::vector<PField> pfields);
  // Makes input the one that the following notes read; throws ScoreError
  // when it runs at another rate than the render.
  void useInput(std::shared_ptr<SoundInput> input);
  // A table whose memory is charged to the budget while it lives.
  TablePtr chargedTable(const std::string& command, int number, long long size, const std::vector<double>& args);
  int64_t endFrame() const;
};

// The engine that plug-in calls go to, and the note they act for.
struct CallContext {
  Engine::Impl* engine = nullptr;
  NoteState* note = nullptr;          // note being made, initialised or run
  LegacyNoteState* legacy = nullptr;  // legacy note being called
};
extern CallContext gContext;

// Thrown by die inside a legacy note so that the note is abandoned without
// returning into it; the engine catches it around the call.
struct LegacyNoteAbort {};

}  // namespace vemora
