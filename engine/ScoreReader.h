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
// not counted either.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

struct lua_State;
struct lua_Debug;

namespace vemora {

class Engine;

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
  const std::string& outputPath() const { return output; }
  const std::string& outputSampleFormat() const { return outputSample; }

  // Steps the score has taken so far (Lua instructions are counted in
  // runs of up to a thousand, so this may trail by as many).
  long long stepsTaken() const { return budget.steps; }

 private:
  // The functions that the score calls.
  struct Commands;
  struct LuaCloser {
    void operator()(lua_State* L) const;
  };

  // What the score has used against its limits. Lua's allocator and the
  // count hook reach it through the state, so it lives apart from the rest.
  struct Budget {
    ScoreLimits ceiling;
    long long ownStepLimit = 0;  // set by the score; 0 = none
    long long steps = 0;
    size_t luaBytes = 0;
    size_t tableBytes = 0;
    size_t noteBytes = 0;  // legacy notes' output, waiting for the render
    // Above 0 while the memory limit does not apply: outside the score's
    // run and while the reader's own code runs inside a command, so that an
    // out-of-memory error is never raised across C++ frames or outside a
    // protected call.
    int lifted = 0;
    bool memoryRefused = false;

    long long stepLimit() const;
    size_t memoryLimit() const { return ceiling.memoryBytes; }
    size_t heldBytes() const { return luaBytes + tableBytes + noteBytes; }
  };

  static void* allocate(void* ud, void* block, size_t oldSize, size_t newSize);
  static void countSteps(lua_State* L, lua_Debug* ar);
  void runText(const std::string& text, const std::string& scorePath, const std::string& folder);
  // Runs what was loaded; relative paths in it resolve against folder.
  void runChunk(int loadStatus, const std::string& scorePath, const std::string& folder);
  // A table about to be made: tableFits throws ScoreError when it would take
  // the score past a limit; chargeTable counts it once it has been made.
  // Tables stay charged: notes may hold them after the score lets go.
  void tableFits(long long size, size_t argumentCount) const;
  void chargeTable(long long size, size_t argumentCount);
  // The same for the output of legacy notes, which the score writes when it
  // calls them: noteFits before the call, chargeNoteSamples after.
  void noteFits() const;
  void chargeNoteSamples(int64_t samples);

  Engine& engine;
  Budget budget;
  std::unique_ptr<lua_State, LuaCloser> lua;
  std::string scoreFolder;
  std::string output;
  std::string outputSample;
  std::string failure;  // a command's error text, kept until Lua raises it
};

}  // namespace vemora
