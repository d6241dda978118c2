// The sandbox a score runs in: a Lua state that holds only what a score may
// use, and the budget of steps and memory it runs against. Lua's allocator
// and its count hook reach the budget through the state, so every
// coroutine the score makes is counted too.
//
// A step is one Lua instruction, 16 bytes the score allocates, a table entry
// that gen or tab fills (times its arguments) or a sample a legacy note
// writes. Memory is Lua's own plus the tables and the legacy notes' output
// the score made. Lua runs finalizers outside any step count, so the state's
// setmetatable refuses a metatable with __gc; xpcall's message handler does
// not run once the score is past its step limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <lua.hpp>

#include "ScoreReader.h"  // ScoreLimits

namespace vemora {

class ScoreBudget {
 public:
  // The option with which a score sets its own step limit.
  static constexpr const char* kStepOption = "max_score_steps";

  explicit ScoreBudget(const ScoreLimits& ceiling) : ceiling(ceiling) {}
  ScoreBudget(const ScoreBudget&) = delete;
  ScoreBudget& operator=(const ScoreBudget&) = delete;

  // A new state bounded by this budget, with the base (less dofile and
  // loadfile), coroutine, string, math, table and utf8 libraries. Null
  // when Lua has no memory for it.
  lua_State* newState();
  // Starts counting the instructions of thread L, when a step limit is in
  // force and they are not counted yet. Threads made from then on inherit
  // the count.
  void countInstructions(lua_State* L) const;

  // While lifted, the memory limit does not apply: outside the score's run,
  // and while the reader's own code runs inside a command, so that an
  // out-of-memory error is never raised across C++ frames or outside a
  // protected call. Lifts nest.
  void lift() { ++lifted; }
  void unlift() { --lifted; }
  void applyFromNow() { lifted = 0; }

  long long steps() const { return stepsTaken; }
  long long stepLimit() const;
  // The score's own limit (0: none); the ceiling still holds above it.
  void setOwnStepLimit(long long limit) { ownStepLimit = limit; }
  size_t memoryLimit() const { return ceiling.memoryBytes; }
  // Whether an allocation of Lua's was refused for the memory limit.
  bool memoryRefused() const { return refusedMemory; }

  // A table about to be made: tableFits throws ScoreError when it would take
  // the score past a limit; chargeTable counts it once it has been made.
  // Tables stay charged: notes may hold them after the score lets go.
  void tableFits(long long size, size_t argumentCount) const;
  void chargeTable(long long size, size_t argumentCount);
  // The same for the output of legacy notes, which the score writes when it
  // calls them: noteFits before the call, chargeNoteSamples after.
  void noteFits() const;
  void chargeNoteSamples(int64_t samples);

 private:
  static void* allocate(void* ud, void* block, size_t oldSize, size_t newSize);
  static void countSteps(lua_State* L, lua_Debug* ar);
  static int handleUnlessPastLimit(lua_State* L);
  static int xpcall(lua_State* L);
  size_t heldBytes() const { return luaBytes + tableBytes + noteBytes; }

  ScoreLimits ceiling;
  long long ownStepLimit = 0;
  long long stepsTaken = 0;
  size_t luaBytes = 0;
  size_t tableBytes = 0;
  size_t noteBytes = 0;  // legacy notes' output, waiting for the render
  int lifted = 1;        // until the score itself runs
  bool refusedMemory = false;
};

// The budget of the state L was made by.
ScoreBudget& budgetOf(lua_State* L);
// The file name as the user gave it; Lua's short_src may cut a long one.
const char* scoreSourceName(const lua_Debug& ar);

}  // namespace vemora
