#include "ScoreBudget.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "Engine.h"
#include "GenRoutines.h"

namespace vemora {

namespace {

// Lua instructions between two looks at the step count: a look costs a C
// call, and a runaway score overshoots its limit by at most this many.
constexpr int kStepRun = 1000;
// Bytes that a score's Lua code allocates, per step. One library call
// (string.rep, table.concat, string.format...) is one instruction whatever
// it builds; counting what it allocates bounds that work too, so a loop
// that builds ever longer strings it then drops still meets the limit.
constexpr size_t kBytesPerStep = 16;
constexpr const char* kStepOption = ScoreBudget::kStepOption;

// Lua runs finalizers (__gc) with hooks off, so a finalizer would run beyond
// the step count: a score may not set one. An object is marked for
// finalization only if its metatable holds __gc (whatever its value) when it
// is set, so refusing such metatables here leaves no way to add one later.
int setMetatableWithoutFinalizer(lua_State* L) {
  if (lua_type(L, 2) == LUA_TTABLE) {
    lua_pushliteral(L, "__gc");
    const bool hasFinalizer = lua_rawget(L, 2) != LUA_TNIL;
    lua_pop(L, 1);
    if (hasFinalizer) return luaL_error(L, "setmetatable: a score cannot set __gc finalizers");
  }
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_insert(L, 1);
  lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
  return lua_gettop(L);
}

// Lua's xpcall with the message handler guarded: the error of a score past
// its step limit is raised from the count hook, where hooks are off, so the
// score's handler would run unbounded then. Past the limit the message goes
// back as it is. Yields pass through, as with Lua's own xpcall.
int finishProtectedCall(lua_State* L, int status, lua_KContext resultsBase) {
  if (status != LUA_OK && status != LUA_YIELD) {
    lua_pushboolean(L, 0);
    lua_pushvalue(L, -2);
    return 2;
  }
  return lua_gettop(L) - int(resultsBase);
}

}  // namespace

ScoreBudget& budgetOf(lua_State* L) {
  void* budget = nullptr;
  lua_getallocf(L, &budget);
  return *static_cast<ScoreBudget*>(budget);
}

const char* scoreSourceName(const lua_Debug& ar) { return ar.source[0] == '@' ? ar.source + 1 : ar.short_src; }

lua_State* ScoreBudget::newState() {
  lua_State* L = lua_newstate(allocate, this);
  if (!L) return nullptr;
  static const luaL_Reg libraries[] = {
      {LUA_GNAME, luaopen_base},       {LUA_COLIBNAME, luaopen_coroutine}, {LUA_STRLIBNAME, luaopen_string},
      {LUA_MATHLIBNAME, luaopen_math}, {LUA_TABLIBNAME, luaopen_table},    {LUA_UTF8LIBNAME, luaopen_utf8},
  };
  for (const luaL_Reg& library : libraries) {
    luaL_requiref(L, library.name, library.func, 1);
    lua_pop(L, 1);
  }
  for (const char* fileReader : {"dofile", "loadfile"}) {
    lua_pushnil(L);
    lua_setglobal(L, fileReader);
  }
  lua_getglobal(L, "setmetatable");
  lua_pushcclosure(L, setMetatableWithoutFinalizer, 1);
  lua_setglobal(L, "setmetatable");
  lua_pushcfunction(L, xpcall);
  lua_setglobal(L, "xpcall");
  return L;
}

int ScoreBudget::handleUnlessPastLimit(lua_State* L) {
  const ScoreBudget& budget = budgetOf(L);
  const long long limit = budget.stepLimit();
  if (limit > 0 && budget.stepsTaken >= limit) return 1;
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_insert(L, 1);
  lua_call(L, lua_gettop(L) - 1, 1);
  return 1;
}

int ScoreBudget::xpcall(lua_State* L) {
  const int n = lua_gettop(L);
  luaL_checktype(L, 2, LUA_TFUNCTION);
  lua_pushvalue(L, 2);
  lua_pushcclosure(L, handleUnlessPastLimit, 1);
  lua_replace(L, 2);
  lua_pushboolean(L, 1);  // the first result when the call succeeds
  lua_pushvalue(L, 1);
  lua_rotate(L, 3, 2);  // true and the function go below the arguments
  const int status = lua_pcallk(L, n - 2, LUA_MULTRET, 2, 2, finishProtectedCall);
  return finishProtectedCall(L, status, 2);
}

long long ScoreBudget::stepLimit() const {
  if (ceiling.steps > 0 && ownStepLimit > 0) return std::min(ceiling.steps, ownStepLimit);
  return ceiling.steps > 0 ? ceiling.steps : ownStepLimit;
}

void* ScoreBudget::allocate(void* ud, void* block, size_t oldSize, size_t newSize) {
  ScoreBudget& budget = *static_cast<ScoreBudget*>(ud);
  if (!block) oldSize = 0;  // then it tells the kind of object, not a size
  if (newSize == 0) {
    std::free(block);
    budget.luaBytes -= oldSize;
    return nullptr;
  }
  const size_t limit = budget.memoryLimit();
  if (newSize > oldSize && limit > 0 && budget.lifted == 0) {
    const size_t used = budget.heldBytes();
    if (used >= limit || newSize - oldSize > limit - used) {
      budget.refusedMemory = true;
      return nullptr;  // Lua raises "not enough memory"
    }
  }
  void* moved = std::realloc(block, newSize);
  if (moved) budget.luaBytes = budget.luaBytes - oldSize + newSize;
  if (moved && newSize > oldSize && budget.lifted == 0)
    budget.stepsTaken += static_cast<long long>((newSize - oldSize) / kBytesPerStep);
  return moved;
}

namespace {

int nextStepRun(long long limit, long long steps) {
  if (limit <= 0 || limit - steps >= kStepRun) return kStepRun;
  return int(std::max(1LL, limit - steps));
}

}  // namespace

// Lua calls a count hook's bookkeeping on every instruction it runs, not
// only when the count is reached: a score with no step limit runs without
// it, about a sixth faster for a score of many notes.
void ScoreBudget::countInstructions(lua_State* L) const {
  if (stepLimit() <= 0 || lua_gethook(L)) return;
  lua_sethook(L, countSteps, LUA_MASKCOUNT, nextStepRun(stepLimit(), stepsTaken));
}

// The count hook: every thread of the score (coroutines inherit the hook)
// adds the instructions it ran. Past the limit the hook fails on every
// further instruction, so a pcall in the score cannot keep it going.
void ScoreBudget::countSteps(lua_State* L, lua_Debug*) {
  ScoreBudget& budget = budgetOf(L);
  budget.stepsTaken += lua_gethookcount(L);
  const long long limit = budget.stepLimit();
  if (limit <= 0 || budget.stepsTaken < limit) {
    lua_sethook(L, countSteps, LUA_MASKCOUNT, nextStepRun(limit, budget.stepsTaken));
    return;
  }
  lua_sethook(L, countSteps, LUA_MASKCOUNT, 1);
  ++budget.lifted;
  lua_Debug here;
  if (lua_getstack(L, 0, &here) && lua_getinfo(L, "Sl", &here) && here.currentline > 0) {
    lua_pushfstring(L, "%s:%d: ", scoreSourceName(here), here.currentline);
  } else {
    lua_pushliteral(L, "");
  }
  lua_pushfstring(L, "the score ran more than %I steps, its limit (%s); it may be caught in an endless loop",
                  static_cast<LUAI_UACINT>(limit), kStepOption);
  lua_concat(L, 2);
  --budget.lifted;
  lua_error(L);
}

void ScoreBudget::tableFits(long long size, size_t argumentCount) const {
  // A size the engine refuses costs nothing; its own message says why.
  if (size < 1 || size > kMaxTableSize) return;
  const long long limit = stepLimit();
  const long long work = size * static_cast<long long>(std::max<size_t>(1, argumentCount));
  if (limit > 0 && work > limit - std::min(limit, stepsTaken)) {
    throw ScoreError("a table of " + std::to_string(size) + " entries from " + std::to_string(argumentCount) +
                     " arguments would take the score past its limit of " + std::to_string(limit) + " steps (" +
                     kStepOption + ")");
  }
  const size_t bytes = size_t(size) * sizeof(double);
  const size_t memoryLimit = this->memoryLimit();
  const size_t used = heldBytes();
  if (memoryLimit > 0 && (used >= memoryLimit || bytes > memoryLimit - used)) {
    throw ScoreError("a table of " + std::to_string(size) + " entries would take the score past its memory limit of " +
                     std::to_string(memoryLimit) + " bytes");
  }
}

// Past a limit no further note is written, even when the score catches the
// refusal and calls again.
void ScoreBudget::noteFits() const {
  const long long limit = stepLimit();
  if (limit > 0 && stepsTaken >= limit)
    throw ScoreError("the score is past its limit of " + std::to_string(limit) + " steps (" + kStepOption + ")");
  const size_t memoryLimit = this->memoryLimit();
  if (memoryLimit > 0 && heldBytes() >= memoryLimit)
    throw ScoreError("the score is past its memory limit of " + std::to_string(memoryLimit) + " bytes");
}

// A legacy note's output waits in memory for the render, and writing it was
// work the score asked for: each sample counts as a step and as four bytes.
// The note is kept; the score stops at once when it went past a limit.
void ScoreBudget::chargeNoteSamples(int64_t samples) {
  if (samples <= 0) return;
  stepsTaken += samples;
  noteBytes += size_t(samples) * sizeof(float);
  const long long limit = stepLimit();
  if (limit > 0 && stepsTaken >= limit) {
    throw ScoreError("its note of " + std::to_string(samples) + " samples takes the score past its limit of " +
                     std::to_string(limit) + " steps (" + kStepOption + ")");
  }
  const size_t memoryLimit = this->memoryLimit();
  if (memoryLimit > 0 && heldBytes() > memoryLimit) {
    throw ScoreError("its note of " + std::to_string(samples) + " samples takes the score past its memory limit of " +
                     std::to_string(memoryLimit) + " bytes");
  }
}

void ScoreBudget::chargeTable(long long size, size_t argumentCount) {
  stepsTaken += size * static_cast<long long>(std::max<size_t>(1, argumentCount));
  tableBytes += size_t(size) * sizeof(double);
}

}  // namespace vemora
