// The score reader: runs a score (a Lua 5.4 script) against an Engine.
//
// The score sees the base, coroutine, string, math, table and utf8 libraries
// and the engine's commands: rtoutput, rtinput, set_option, bus_config, load,
// gen and tab, then one function per instrument and score function that load
// registers. io, os, package, debug, dofile and loadfile are left out: a score
// reaches files only through rtinput and rtoutput, and renders the same on
// every run. Relative paths in rtinput and rtoutput are taken from the
// score's own folder, so a score works from any current directory.
//
// A score can be bounded, so that a runaway one ends with a message instead
// of running or growing for ever: in steps (one per Lua instruction, plus
// the table entries that gen and tab fill, one per entry and argument) and
// in memory (Lua's own plus the tables that gen and tab make). Lua runs
// finalizers outside any step count, so setmetatable refuses a metatable
// with __gc; time spent inside one library call (a pattern match, say) is
// not counted either. The sandbox and its budget are ScoreBudget's
// (ScoreBudget.h); the commands that name files and settings are the
// CommandLayer's (CommandLayer.h), shared with the socket server. The reader
// binds them to Lua.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

struct lua_State;
struct lua_Debug;

namespace vemora {

class Engine;
class CommandLayer;
struct Number;
struct PField;
class ScoreBudget;

struct ScoreLimits {
  // 0: no bound. The score may set its own step limit with
  // set_option("max_score_steps=N"), but never above this one.
  long long steps = 0;
  size_t memoryBytes = 0;
};

class ScoreReader {
 public:
  explicit ScoreReader(Engine& engine, ScoreLimits limits = {});
  ~ScoreReader();
  ScoreReader(const ScoreReader&) = delete;
  ScoreReader& operator=(const ScoreReader&) = delete;

  // Runs the score file named by scorePath (as the user gave it; messages
  // name it so). Any failure, from Lua or from an engine command, throws
  // ScoreError with Lua's message, "score.lua:12: ...". One score per
  // reader; a host may run a prelude of its own first (runText): the chunks
  // share one Lua state and one budget.
  void run(const std::string& scorePath);
  // Runs score text held in memory as if it had been read from scorePath:
  // messages name that path and relative paths resolve against its folder.
  void runText(const std::string& text, const std::string& scorePath);

  // What rtoutput asked for: the path (resolved against the score's folder)
  // and the sample format text ("16", "24", "float" or empty). Both are
  // empty when the score named no output.
  const std::string& outputPath() const;
  const std::string& outputSampleFormat() const;
  // The score line of that rtoutput ("score.lua:3"), for errors the output
  // meets later, when it is opened.
  const std::string& outputLocation() const { return outputWhere; }

  // Steps the score has taken so far (Lua instructions are counted in
  // runs of up to a thousand, so this may trail by as many).
  long long stepsTaken() const;

 private:
  // The functions that the score calls.
  struct Commands;
  struct LuaCloser {
    void operator()(lua_State* L) const;
  };

  void runText(const std::string& text, const std::string& scorePath, const std::string& folder);
  // Runs what was loaded; relative paths in it resolve against folder.
  void runChunk(int loadStatus, const std::string& scorePath, const std::string& folder);
  Engine& engine;
  std::unique_ptr<CommandLayer> commands;  // paths, the output, options
  std::unique_ptr<ScoreBudget> budget;     // outlives the state, whose allocator it is
  std::unique_ptr<lua_State, LuaCloser> lua;
  std::string failure;  // a command's error text, kept until Lua raises it
  std::string outputWhere;
  std::vector<Number> numbers;      // a command's arguments, reused from call to call
  std::vector<double> tableValues;  // gen's values, likewise
  std::vector<PField> pfields;      // a note's pfields, likewise
  bool mainThreadLocated = false;   // the engine finds the main thread's line itself
};

}  // namespace vemora
