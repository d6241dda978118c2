#include "ScoreReader.h"

#include <cstring>
#include <filesystem>
#include <limits>
#include <lua.hpp>
#include <new>
#include <string>
#include <vector>

#include "Engine.h"
#include "SoundOutput.h"

namespace vemora {

namespace {

constexpr const char* kTableType = "vemora.table";
// The registry keeps math.randomseed so that set_option("seed=N") reseeds
// even when the score has replaced or removed its own math table.
constexpr const char* kRandomSeedKey = "vemora.randomseed";

// The nearest Lua function on the stack is the score line that made the
// call, even when the command was reached through pcall or another C function.
bool scoreCaller(lua_State* L, lua_Debug& ar) {
  for (int level = 1; lua_getstack(L, level, &ar); ++level) {
    lua_getinfo(L, "Sl", &ar);
    if (ar.currentline > 0) return true;
  }
  return false;
}

// The file name as the user gave it; Lua's short_src may cut a long one.
const char* sourceName(const lua_Debug& ar) { return ar.source[0] == '@' ? ar.source + 1 : ar.short_src; }

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

// lua_error longjmps, which must never skip a C++ destructor. Every command
// does its work inside guarded(): an exception is caught here and the Lua
// error is raised only once every C++ object of the call is gone.
template <class Body>
int guarded(lua_State* L, const char* command, Body&& body) {
  try {
    return body();
  } catch (const std::exception& e) {
    pushFailure(L, command, e.what());
  } catch (...) {
    pushFailure(L, command, "unknown failure");
  }
  return lua_error(L);
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

int wholeInt(lua_State* L, int i, const char* name) {
  const long long value = whole(L, i, name);
  if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) {
    badArgument(L, i, name, "a whole number in the range of int");
  }
  return static_cast<int>(value);
}

std::vector<double> numbersFrom(lua_State* L, int first) {
  std::vector<double> values;
  for (int i = first, top = lua_gettop(L); i <= top; ++i) values.push_back(number(L, i, "value"));
  return values;
}

std::string optionKey(const std::string& option) {
  const auto eq = option.find('=');
  std::string key = option.substr(0, eq);
  const auto first = key.find_first_not_of(" \t");
  const auto last = key.find_last_not_of(" \t");
  return first == std::string::npos ? std::string() : key.substr(first, last - first + 1);
}

int releaseTable(lua_State* L) {
  static_cast<TablePtr*>(lua_touserdata(L, 1))->~TablePtr();
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
  return message;
}

}  // namespace

struct ScoreReader::Commands {
  static ScoreReader& reader(lua_State* L) {
    return *static_cast<ScoreReader*>(lua_touserdata(L, lua_upvalueindex(1)));
  }

  // Tells the engine which score line the next call comes from, so that its
  // messages (refusals, advisories) name that line.
  static Engine& engineAt(lua_State* L) {
    ScoreReader& r = reader(L);
    r.engine.setScoreLocation(callerLocation(L));
    return r.engine;
  }

  static std::string resolve(const ScoreReader& r, const std::string& path) {
    const std::filesystem::path given(path);
    if (given.is_absolute() || r.scoreFolder.empty()) return path;
    return (std::filesystem::path(r.scoreFolder) / given).string();
  }

  static void reseed(lua_State* L, lua_Integer seed) {
    lua_getfield(L, LUA_REGISTRYINDEX, kRandomSeedKey);
    lua_pushinteger(L, seed);
    lua_call(L, 1, 0);
  }

  static int rtoutput(lua_State* L) {
    return guarded(L, "rtoutput", [L] {
      ScoreReader& r = reader(L);
      const std::string path = resolve(r, text(L, 1, "file name"));
      std::string sample;
      if (lua_type(L, 2) == LUA_TNUMBER) {
        sample = std::to_string(whole(L, 2, "sample format"));
      } else if (!lua_isnoneornil(L, 2)) {
        sample = text(L, 2, "sample format");
      }
      // A bad file name or format is the score's error at this line, not a
      // surprise after the whole score has been read.
      outputFormatFor(path, sample);
      r.output = path;
      r.outputSample = sample;
      return 0;
    });
  }

  static int rtinput(lua_State* L) {
    return guarded(L, "rtinput", [L] {
      const std::string path = resolve(reader(L), text(L, 1, "file name"));
      engineAt(L).setInput(path);
      return 0;
    });
  }

  static int setOption(lua_State* L) {
    return guarded(L, "set_option", [L] {
      const int top = lua_gettop(L);
      if (top == 0) throw ScoreError("give at least one option, such as \"sr=48000\"");
      for (int i = 1; i <= top; ++i) {
        const std::string option = text(L, i, "option");
        Engine& engine = engineAt(L);
        engine.setOption(option);
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
      engineAt(L).busConfig(instrument, buses);
      return 0;
    });
  }

  static int load(lua_State* L) {
    return guarded(L, "load", [L] {
      const std::string plugin = text(L, 1, "plug-in name");
      Engine& engine = engineAt(L);
      for (const std::string& name : engine.load(plugin)) {
        lua_CFunction call = nullptr;
        if (engine.hasInstrument(name)) {
          call = playInstrument;
        } else if (engine.hasFunction(name)) {
          call = callFunction;
        } else {
          continue;
        }
        lua_pushlightuserdata(L, &reader(L));
        lua_pushstring(L, name.c_str());
        lua_pushcclosure(L, call, 2);
        lua_setglobal(L, name.c_str());
      }
      return 0;
    });
  }

  static int gen(lua_State* L) {
    return guarded(L, "gen", [L] {
      const int slot = wholeInt(L, 1, "slot");
      const int routine = wholeInt(L, 2, "gen number");
      const long long size = whole(L, 3, "size");
      const std::vector<double> args = numbersFrom(L, 4);
      engineAt(L).makeTable(slot, routine, size, args);
      return 0;
    });
  }

  static int tab(lua_State* L) {
    return guarded(L, "tab", [L] {
      const int routine = wholeInt(L, 1, "gen number");
      const long long size = whole(L, 2, "size");
      const std::vector<double> args = numbersFrom(L, 3);
      TablePtr table = engineAt(L).makePFieldTable(routine, size, args);
      new (lua_newuserdatauv(L, sizeof(TablePtr), 0)) TablePtr(std::move(table));
      luaL_setmetatable(L, kTableType);
      return 1;
    });
  }

  static int playInstrument(lua_State* L) {
    const char* name = lua_tostring(L, lua_upvalueindex(2));
    return guarded(L, name, [L, name] {
      std::vector<PField> pfields;
      for (int i = 1, top = lua_gettop(L); i <= top; ++i) {
        if (lua_type(L, i) == LUA_TNUMBER) {
          pfields.emplace_back(lua_tonumber(L, i));
        } else if (auto* table = static_cast<TablePtr*>(luaL_testudata(L, i, kTableType))) {
          pfields.emplace_back(*table);
        } else {
          badArgument(L, i, "p" + std::to_string(i - 1), "a number or a table made by tab()");
        }
      }
      lua_pushboolean(L, engineAt(L).playNote(name, std::move(pfields)));
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
      lua_pushnumber(L, engineAt(L).callFunction(name, args));
      return 1;
    });
  }
};

void ScoreReader::LuaCloser::operator()(lua_State* L) const { lua_close(L); }

ScoreReader::ScoreReader(Engine& engine) : engine(engine), lua(luaL_newstate()) {
  if (!lua) throw std::bad_alloc();
  lua_State* L = lua.get();

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

  lua_getglobal(L, LUA_MATHLIBNAME);
  lua_getfield(L, -1, "randomseed");
  lua_setfield(L, LUA_REGISTRYINDEX, kRandomSeedKey);
  lua_pop(L, 1);
  // Lua seeds math.random from the clock; a score must render the same on
  // every run.
  Commands::reseed(L, static_cast<lua_Integer>(engine.settings().seed));

  luaL_newmetatable(L, kTableType);
  lua_pushcfunction(L, releaseTable);
  lua_setfield(L, -2, "__gc");
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
}

ScoreReader::~ScoreReader() = default;

void ScoreReader::run(const std::string& path) {
  scoreFolder = std::filesystem::path(path).parent_path().string();

  // Messages after the score (the render's) belong to no score line.
  struct LocationReset {
    Engine& engine;
    ~LocationReset() { engine.setScoreLocation(""); }
  } locationReset{engine};

  lua_State* L = lua.get();
  int status = luaL_loadfilex(L, path.c_str(), "t");
  if (status == LUA_OK) status = lua_pcall(L, 0, 0, 0);
  if (status != LUA_OK) {
    std::string message = scoreErrorText(L, path);
    lua_settop(L, 0);
    throw ScoreError(message);
  }
}

}  // namespace vemora
