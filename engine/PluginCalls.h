// Whom the plug-in interface's calls act for. That interface is C-style:
// floc, die, setnote, addrtInst and the rest take no engine and no note, so
// before the engine calls into a plug-in it says here which engine, and
// which note, the calls that come back are for. This is the only
// process-wide state of the engine; everything else is passed explicitly.
#pragma once

namespace vemora {

class FunctionTables;
class MessageLog;
class RecordPool;
class Registry;
struct LegacyNoteState;
struct NoteState;

// What plug-in calls reach of an engine.
struct PluginHost {
  MessageLog& log;
  Registry& registry;  // for addrtInst and addLegacyfunc, while a plug-in loads
  FunctionTables& tables;
  RecordPool& records;  // for the instruments of the notes it makes
};

// Makes host the engine that plug-in calls reach from now on.
void usePluginHost(PluginHost* host);
// Forgets host, when it is the one in use (its engine is going).
void forgetPluginHost(const PluginHost* host);

// While one lives, plug-in calls act for its note: a real-time note being
// made, configured or run, or a legacy note being called. Scopes nest.
class PluginCallScope {
 public:
  explicit PluginCallScope(NoteState* note);
  explicit PluginCallScope(LegacyNoteState* note);
  ~PluginCallScope();
  PluginCallScope(const PluginCallScope&) = delete;
  PluginCallScope& operator=(const PluginCallScope&) = delete;

 private:
  NoteState* outerNote;
  LegacyNoteState* outerLegacy;
};

}  // namespace vemora
