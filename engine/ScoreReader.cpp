#include "ScoreReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <lua.hpp>
#include <new>
#include <string>
#include <vector>

#include "CommandLayer.h"
#include "Engine.h"
#include "GenRoutines.h"
#include "ScoreBudget.h"
#include "ScorePitch.h"
#include "SoundOutput.h"

namespace vemora {

namespace {

constexpr const char* kTableType = "vemora.table";
// The registry keeps math.randomseed so that set_option("seed=N") reseeds
// even when the score has replaced or removed its own math table.
constexpr const char* kRandomSeedKey = "vemora.randomseed";
// The option that a score uses to bound its own steps; the reader keeps it,
// the engine never sees it.
constexpr const char* kStepOption = ScoreBudget::kStepOption;

// The nearest Lua function on the stack is the score line that made the
// call, even when the command was reached through pcall or another C function.
bool scoreCaller(lua_State* L, lua_Debug& ar) {
  for (int level = 1; lua_getstack(L, level, &ar); ++level) {
    lua_getinfo(L, "Sl", &ar);
    if (ar.currentline > 0) return true;
  }
  return false;
}

const char* sourceName(const lua_Debug& ar) { return scoreSourceName(ar); }

std::string callerLocation(lua_State* L) {
  lua_Debug ar;
  if (!scoreCaller(L, ar)) return {};
  return std::string(sourceName(ar)) + ":" + std::to_string(ar.currentline);
}

// Pushes "score.lua:12: command: what". Engine messages may already start
// with the command's name ("load: no plug-in named ..."); it is not doubled.
void pushFailure(lua_State* L, const char* command, const char* what) {
  lua_Debug ar;
  if (scoreCaller(L, ar)) {
    lua_pushfstring(L, "%s:%d: ", sourceName(ar), ar.currentline);
  } else {
    lua_pushliteral(L, "");
  }
  const size_t n = std::strlen(command);
  if (std::strncmp(what, command, n) == 0 && what[n] == ':') {
    lua_pushstring(L, what);
  } else {
    lua_pushfstring(L, "%s: %s", command, what);
  }
  lua_concat(L, 2);
}

[[noreturn]] void badArgument(lua_State* L, int i, const std::string& name, const char* wanted) {
  std::string got;
  if (lua_isnone(L, i)) {
    got = "nothing";
  } else if (lua_isnil(L, i)) {
    got = "nil";
  } else if (lua_type(L, i) == LUA_TNUMBER) {
    lua_pushvalue(L, i);  // lua_tostring converts in place: keep the argument a number
    got = lua_tostring(L, -1);
    lua_pop(L, 1);
  } else {
    got = std::string("a ") + luaL_typename(L, i);
  }
  throw ScoreError("argument " + std::to_string(i) + " (" + name + ") must be " + wanted + ", not " + got);
}

std::string text(lua_State* L, int i, const char* name) {
  if (lua_type(L, i) != LUA_TSTRING) badArgument(L, i, name, "a text");
  size_t length = 0;
  const char* s = lua_tolstring(L, i, &length);
  return std::string(s, length);
}

// A file name is a C string for the system: a NUL inside it would cut it
// there ("take.txt\0.wav" would write take.txt), so it is refused.
std::string fileName(lua_State* L, int i) {
  std::string name = text(L, i, "file name");
  if (name.find('\0') != std::string::npos)
    throw ScoreError("argument " + std::to_string(i) + " (file name) contains a NUL byte, which no file name can hold");
  return name;
}

// A score given as a pipe (vemora <(make-score)) is read once, whole; one
// larger than this is no score a person wrote.
constexpr size_t kLargestPipedScore = size_t(64) << 20;

// Reads a score that is no regular file. A named pipe that nobody writes
// to reads as empty rather than waiting for a writer that may never come.
std::string readPipedScore(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw ScoreError("cannot read " + path + ": " + std::strerror(errno));
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::string text;
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      throw ScoreError("cannot read " + path + ": " + std::strerror(error));
    }
    if (n == 0) break;
    text.append(chunk, size_t(n));
    if (text.size() > kLargestPipedScore) {
      ::close(fd);
      throw ScoreError("cannot read " + path + ": a score from a pipe may hold at most 64 MiB");
    }
  }
  ::close(fd);
  if (text.empty()) throw ScoreError("cannot read " + path + ": the pipe gave nothing (no program writes to it)");
  return text;
}

double number(lua_State* L, int i, const char* name) {
  if (lua_type(L, i) != LUA_TNUMBER) badArgument(L, i, name, "a number");
  return lua_tonumber(L, i);
}

long long whole(lua_State* L, int i, const char* name) {
  if (lua_type(L, i) != LUA_TNUMBER) badArgument(L, i, name, "a whole number");
  int exact = 0;
  const lua_Integer value = lua_tointegerx(L, i, &exact);
  if (!exact) badArgument(L, i, name, "a whole number");
  return value;
}

// The arguments from `first` on, as the command layer takes numbers: a
// Lua integer, or a float that is one exactly, is a whole number of 64
// bits; anything else that is no number is left for the command to refuse.
// The arguments from `first` on, into numbers (kept by the reader from call
// to call, so a score of many gen calls does not allocate for each).
const std::vector<Number>& numbersFrom(lua_State* L, int first, std::vector<Number>& numbers) {
  numbers.clear();
  const int top = lua_gettop(L);
  for (int i = first; i <= top; ++i) {
    if (lua_type(L, i) != LUA_TNUMBER) {
      numbers.push_back(Number::none());
      continue;
    }
    int exact = 0;
    const lua_Integer integer = lua_tointegerx(L, i, &exact);
    numbers.push_back(exact ? Number::integer(integer) : Number::of(lua_tonumber(L, i)));
  }
  return numbers;
}

// A command of the command layer from the arguments `first` on. An
// argument it cannot take is said the way the score reader says every
// argument error: its place, its name, what it must be and what it holds.
template <class Command, class... Reuse>
Command commandFrom(lua_State* L, int first, std::vector<Number>& numbers, Reuse&&... reuse) {
  try {
    return Command::from(numbersFrom(L, first, numbers), std::forward<Reuse>(reuse)...);
  } catch (const BadArgument& bad) {
    badArgument(L, first + int(bad.index), bad.name, bad.wanted.c_str());
  }
}

std::string optionKey(const std::string& option) {
  const auto eq = option.find('=');
  std::string key = option.substr(0, eq);
  const auto first = key.find_first_not_of(" \t");
  const auto last = key.find_last_not_of(" \t");
  return first == std::string::npos ? std::string() : key.substr(first, last - first + 1);
}

// "max_score_steps=N": N from 0 (no limit of the score's own) up.
long long stepLimitFrom(const std::string& value) {
  char* end = nullptr;
  errno = 0;
  const long long steps = std::strtoll(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0' || errno == ERANGE || steps < 0)
    throw ScoreError(std::string("set_option: ") + kStepOption + " must be a whole number from 0 to " +
                     std::to_string(std::numeric_limits<long long>::max()) + ", not \"" + value + "\"");
  return steps;
}

// The __gc of a tab() table. Resetting rather than destroying keeps a
// second call harmless; an empty pointer holds nothing to release.
int releaseTable(lua_State* L) {
  static_cast<TablePtr*>(lua_touserdata(L, 1))->reset();
  return 0;
}

// Lua's message for a failed chunk names the file by its short_src, which
// keeps only the tail of a long path; the message should name the score as
// the user gave it.
std::string scoreErrorText(lua_State* L, const std::string& path) {
  std::string message;
  if (const char* s = lua_tostring(L, -1)) {
    message = s;
  } else {
    message = std::string("(error object is a ") + luaL_typename(L, -1) + " value)";
  }
  lua_pop(L, 1);

  const std::string chunkName = "@" + path;
  if (luaL_loadbuffer(L, "", 0, chunkName.c_str()) != LUA_OK) {
    lua_pop(L, 1);
    return message;
  }
  lua_Debug ar;
  lua_getinfo(L, ">S", &ar);
  const std::string shortName = std::string(ar.short_src) + ":";
  if (shortName != path + ":" && message.compare(0, shortName.size(), shortName) == 0) {
    message = path + ":" + message.substr(shortName.size());
  }
  // Some failures carry no position (a binary chunk, an error object that
  // is no text, error(..., 0)); the message still names the score.
  if (message.find(path) == std::string::npos) message = path + ": " + message;
  return message;
}

}  // namespace

struct ScoreReader::Commands {
  static ScoreReader& reader(lua_State* L) {
    return *static_cast<ScoreReader*>(lua_touserdata(L, lua_upvalueindex(1)));
  }

  // lua_error longjmps, which must never skip a C++ destructor. Every command
  // does its work inside guarded(): an exception is caught here and the Lua
  // error is raised only once every C++ object of the call is gone. While the
  // body runs, Lua allocations cannot fail and no Lua code runs, so nothing
  // in it raises a Lua error of its own.
  template <class Body>
  static int guarded(lua_State* L, const char* command, Body&& body) {
    ScoreReader& r = reader(L);
    // A coroutine made before the score set its step limit is counted from
    // its first command on.
    r.budget->countInstructions(L);
    r.budget->lift();
    try {
      const int results = body();
      r.budget->unlift();
      return results;
    } catch (const std::exception& e) {
      try {
        r.failure = e.what();
      } catch (...) {
        r.failure.clear();
      }
    } catch (...) {
      r.failure = "unknown failure";
    }
    pushFailure(L, command, r.failure.c_str());
    r.budget->unlift();
    return lua_error(L);
  }

  // Tells the engine which score line the next call comes from, so that its
  // messages (refusals, advisories) name that line.
  static Engine& engineAt(lua_State* L) { return engineAt(L, reader(L)); }
  static Engine& engineAt(lua_State* L, ScoreReader& r) {
    // The main thread lives as long as the reader, and the location is
    // cleared when its chunk ends, so there the line is found only when a
    // message needs it: the finder is handed over once, and finds the line
    // of whichever call is running. A coroutine may be collected before
    // then: its line is found now.
    if (L == r.lua.get()) {
      if (!r.mainThreadLocated) r.engine.setScoreLocation([L] { return callerLocation(L); });
      r.mainThreadLocated = true;
    } else {
      r.engine.setScoreLocation(callerLocation(L));
      r.mainThreadLocated = false;
    }
    return r.engine;
  }

  static void reseed(lua_State* L, lua_Integer seed) {
    lua_getfield(L, LUA_REGISTRYINDEX, kRandomSeedKey);
    lua_pushinteger(L, seed);
    lua_call(L, 1, 0);
  }

  static int rtoutput(lua_State* L) {
    return guarded(L, "rtoutput", [L] {
      const std::string path = fileName(L, 1);
      std::string sample;
      if (lua_type(L, 2) == LUA_TNUMBER) {
        sample = std::to_string(whole(L, 2, "sample format"));
      } else if (!lua_isnoneornil(L, 2)) {
        sample = text(L, 2, "sample format");
      }
      // A bad file name or format is the score's error at this line, not a
      // surprise after the whole score has been read.
      reader(L).commands->rtoutput(path, sample);
      reader(L).outputWhere = callerLocation(L);
      return 0;
    });
  }

  static int rtinput(lua_State* L) {
    return guarded(L, "rtinput", [L] {
      const std::string path = fileName(L, 1);
      engineAt(L);
      reader(L).commands->rtinput(path);
      return 0;
    });
  }

  static int setOption(lua_State* L) {
    return guarded(L, "set_option", [L] {
      const int top = lua_gettop(L);
      if (top == 0) throw ScoreError("give at least one option, such as \"sr=48000\"");
      for (int i = 1; i <= top; ++i) {
        const std::string option = text(L, i, "option");
        const size_t equals = option.find('=');
        if (equals != std::string::npos && option.compare(0, equals, kStepOption) == 0) {
          // The reader's own option: allowed at any point of the score.
          ScoreReader& r = reader(L);
          r.budget->setOwnStepLimit(stepLimitFrom(option.substr(equals + 1)));
          r.budget->countInstructions(L);
          r.budget->countInstructions(r.lua.get());
          continue;
        }
        Engine& engine = engineAt(L);
        reader(L).commands->setOption(option);
        if (optionKey(option) == "seed") reseed(L, static_cast<lua_Integer>(engine.settings().seed));
      }
      return 0;
    });
  }

  static int busConfig(lua_State* L) {
    return guarded(L, "bus_config", [L] {
      const std::string instrument = text(L, 1, "instrument");
      std::vector<std::string> buses;
      for (int i = 2, top = lua_gettop(L); i <= top; ++i) buses.push_back(text(L, i, "bus"));
      engineAt(L);
      reader(L).commands->busConfig(instrument, buses);
      return 0;
    });
  }

  static int load(lua_State* L) {
    return guarded(L, "load", [L] {
      const std::string plugin = text(L, 1, "plug-in name");
      Engine& engine = engineAt(L);
      for (const std::string& name : reader(L).commands->load(plugin)) {
        lua_CFunction call = nullptr;
        if (engine.hasInstrument(name)) {
          call = playInstrument;
        } else if (engine.hasFunction(name)) {
          call = callFunction;
        } else {
          continue;
        }
        // rawset: a __newindex that the score put on _G must not run here.
        lua_pushglobaltable(L);
        lua_pushstring(L, name.c_str());
        lua_pushlightuserdata(L, &reader(L));
        lua_pushstring(L, name.c_str());
        lua_pushcclosure(L, call, 2);
        lua_rawset(L, -3);
        lua_pop(L, 1);
      }
      return 0;
    });
  }

  static int gen(lua_State* L) {
    return guarded(L, "gen", [L] {
      ScoreReader& r = reader(L);
      GenCommand command = commandFrom<GenCommand>(L, 1, r.numbers, std::move(r.tableValues));
      r.budget->tableFits(command.size, command.values.size());
      engineAt(L, r);
      r.commands->gen(command);
      r.budget->chargeTable(command.size, command.values.size());
      r.tableValues = std::move(command.values);
      return 0;
    });
  }

  static int tab(lua_State* L) {
    return guarded(L, "tab", [L] {
      const TabCommand command = commandFrom<TabCommand>(L, 1, reader(L).numbers);
      ScoreBudget& budget = *reader(L).budget;
      budget.tableFits(command.size, command.values.size());
      engineAt(L);
      TablePtr table = reader(L).commands->tab(command);
      budget.chargeTable(command.size, command.values.size());
      new (lua_newuserdatauv(L, sizeof(TablePtr), 0)) TablePtr(std::move(table));
      luaL_setmetatable(L, kTableType);
      return 1;
    });
  }

  static int playInstrument(lua_State* L) {
    const char* name = lua_tostring(L, lua_upvalueindex(2));
    return guarded(L, name, [L, name] {
      ScoreReader& r = reader(L);
      // Kept by the reader from note to note; the engine takes the fields.
      std::vector<PField>& pfields = r.pfields;
      pfields.clear();
      const int top = lua_gettop(L);
      pfields.reserve(size_t(top));
      for (int i = 1; i <= top; ++i) {
        if (lua_type(L, i) == LUA_TNUMBER) {
          pfields.emplace_back(lua_tonumber(L, i));
        } else if (auto* table = static_cast<TablePtr*>(luaL_testudata(L, i, kTableType))) {
          pfields.emplace_back(*table);
        } else {
          badArgument(L, i, "p" + std::to_string(i - 1), "a number or a table made by tab()");
        }
      }
      const bool played = engineAt(L, r).playNote(name, std::span<PField>(pfields));
      pfields.clear();
      lua_pushboolean(L, played);
      return 1;
    });
  }

  // A pitch conversion; upvalue 2 is its index among scorePitchFunctions().
  static int pitch(lua_State* L) {
    const ScorePitchFunction& function = scorePitchFunctions()[size_t(lua_tointeger(L, lua_upvalueindex(2)))];
    return guarded(L, function.name, [L, &function] {
      if (lua_gettop(L) != 1) throw ScoreError("give one argument, not " + std::to_string(lua_gettop(L)));
      using Takes = ScorePitchFunction::Takes;
      switch (function.takes) {
        case Takes::PitchName:
          lua_pushnumber(L, function(text(L, 1, "pitch name")));
          break;
        case Takes::MidiNote:
          lua_pushnumber(L, function(number(L, 1, "MIDI note")));
          break;
        case Takes::Number:
          lua_pushnumber(L, function(number(L, 1, "value")));
          break;
      }
      return 1;
    });
  }

  static int callFunction(lua_State* L) {
    const char* name = lua_tostring(L, lua_upvalueindex(2));
    return guarded(L, name, [L, name] {
      std::vector<double> args;
      for (int i = 1, top = lua_gettop(L); i <= top; ++i) {
        args.push_back(number(L, i, ("p" + std::to_string(i - 1)).c_str()));
      }
      Engine& engine = engineAt(L);
      reader(L).budget->noteFits();
      const int64_t before = engine.legacySamplesWritten();
      const double value = engine.callFunction(name, args);
      reader(L).budget->chargeNoteSamples(engine.legacySamplesWritten() - before);
      lua_pushnumber(L, value);
      return 1;
    });
  }
};

void ScoreReader::LuaCloser::operator()(lua_State* L) const { lua_close(L); }

long long ScoreReader::stepsTaken() const { return budget->steps(); }
const std::string& ScoreReader::outputPath() const { return commands->outputPath(); }
const std::string& ScoreReader::outputSampleFormat() const { return commands->outputSampleFormat(); }

ScoreReader::ScoreReader(Engine& engine, ScoreLimits limits)
    : engine(engine),
      commands(std::make_unique<CommandLayer>(engine, CommandPolicy{})),
      budget(std::make_unique<ScoreBudget>(limits)) {
  lua.reset(budget->newState());
  if (!lua) throw std::bad_alloc();
  lua_State* L = lua.get();
  lua_atpanic(L, [](lua_State* state) -> int {
    const char* message = lua_tostring(state, -1);
    std::fprintf(stderr, "vemora: Lua failed outside the score: %s\n", message ? message : "(no message)");
    std::fflush(stderr);
    return 0;  // Lua aborts the process
  });

  lua_getglobal(L, LUA_MATHLIBNAME);
  lua_getfield(L, -1, "randomseed");
  lua_setfield(L, LUA_REGISTRYINDEX, kRandomSeedKey);
  lua_pop(L, 1);
  // Lua seeds math.random from the clock; a score must render the same on
  // every run.
  Commands::reseed(L, static_cast<lua_Integer>(engine.settings().seed));

  // __metatable hides the metatable from getmetatable and setmetatable: a
  // score that could reach __gc could release a table twice, or never.
  luaL_newmetatable(L, kTableType);
  lua_pushcfunction(L, releaseTable);
  lua_setfield(L, -2, "__gc");
  lua_pushliteral(L, "tab");
  lua_setfield(L, -2, "__metatable");
  lua_pop(L, 1);

  static const luaL_Reg commands[] = {
      {"rtoutput", Commands::rtoutput},
      {"rtinput", Commands::rtinput},
      {"set_option", Commands::setOption},
      {"bus_config", Commands::busConfig},
      {"load", Commands::load},
      {"gen", Commands::gen},
      {"tab", Commands::tab},
  };
  for (const luaL_Reg& command : commands) {
    lua_pushlightuserdata(L, this);
    lua_pushcclosure(L, command.func, 1);
    lua_setglobal(L, command.name);
  }
  for (size_t i = 0; i < scorePitchFunctions().size(); ++i) {
    lua_pushlightuserdata(L, this);
    lua_pushinteger(L, lua_Integer(i));
    lua_pushcclosure(L, Commands::pitch, 2);
    lua_setglobal(L, scorePitchFunctions()[i].name);
  }
}

ScoreReader::~ScoreReader() {
  // Closing the state releases the tab() tables through their finalizers;
  // the reader must still be whole then, so the state goes first.
  lua.reset();
}

void ScoreReader::run(const std::string& path) {
  // A pipe or a device is not read by Lua's loader, which would wait on a
  // named pipe for ever and read a device without end.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    if (!S_ISFIFO(st.st_mode) && !S_ISSOCK(st.st_mode))
      throw ScoreError("cannot read " + path + ": it is a device, not a score file");
    // Relative paths in a piped score are taken from the current folder:
    // the pipe's own (/dev/fd) holds nothing of the score's.
    runText(readPipedScore(path), path, ".");
    return;
  }
  budget->applyFromNow();  // the parser's memory counts too
  const int status = luaL_loadfilex(lua.get(), path.c_str(), "t");
  runChunk(status, path, std::filesystem::path(path).parent_path().string());
}

void ScoreReader::runText(const std::string& text, const std::string& path) {
  runText(text, path, std::filesystem::path(path).parent_path().string());
}

void ScoreReader::runText(const std::string& text, const std::string& path, const std::string& folder) {
  // As luaL_loadfilex reads a file: a UTF-8 byte-order mark and a first
  // line starting with # are skipped, the line's newline kept so that line
  // numbers stay the file's.
  size_t from = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  if (from < text.size() && text[from] == '#') from = std::min(text.find('\n', from), text.size());
  const std::string chunkName = "@" + path;
  budget->applyFromNow();
  const int status = luaL_loadbufferx(lua.get(), text.data() + from, text.size() - from, chunkName.c_str(), "t");
  runChunk(status, path, folder);
}

void ScoreReader::runChunk(int status, const std::string& path, const std::string& folder) {
  commands->setFolder(folder);

  // Messages after the score (the render's) belong to no score line.
  struct LocationReset {
    ScoreReader& reader;
    ~LocationReset() {
      reader.engine.setScoreLocation("");
      reader.mainThreadLocated = false;
    }
  } locationReset{*this};

  lua_State* L = lua.get();
  if (status == LUA_OK) {
    budget->countInstructions(L);
    status = lua_pcall(L, 0, 0, 0);
  }
  // From here on no allocation may fail: the calls below are not protected.
  budget->lift();
  if (status != LUA_OK) {
    std::string message;
    if (status == LUA_ERRMEM && budget->memoryRefused()) {
      message =
          path + ": the score took more than its memory limit of " + std::to_string(budget->memoryLimit()) + " bytes";
      lua_pop(L, 1);
    } else {
      message = scoreErrorText(L, path);
    }
    lua_settop(L, 0);
    throw ScoreError(message);
  }
}

}  // namespace vemora
