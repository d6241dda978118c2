// The score reader: runs a score (a Lua 5.4 script) against an Engine.
//
// The score sees the base, coroutine, string, math, table and utf8 libraries
// and the engine's commands: rtoutput, rtinput, set_option, bus_config, load,
// gen and tab, then one function per instrument and score function that load
// registers. io, os, package, debug, dofile and loadfile are left out: a score
// reaches files only through rtinput and rtoutput, and renders the same on
// every run. Relative paths in rtinput and rtoutput are taken from the
// score's own folder, so a score works from any current directory.
#pragma once

#include <memory>
#include <string>

struct lua_State;

namespace vemora {

class Engine;

class ScoreReader {
 public:
  explicit ScoreReader(Engine& engine);
  ~ScoreReader();
  ScoreReader(const ScoreReader&) = delete;
  ScoreReader& operator=(const ScoreReader&) = delete;

  // Runs the score file named by scorePath (as the user gave it; messages
  // name it so). Any failure, from Lua or from an engine command, throws
  // ScoreError with Lua's message, "score.lua:12: ...". One score per reader.
  void run(const std::string& scorePath);

  // What rtoutput asked for: the path (resolved against the score's folder)
  // and the sample format text ("16", "24", "float" or empty). Both are
  // empty when the score named no output.
  const std::string& outputPath() const { return output; }
  const std::string& outputSampleFormat() const { return outputSample; }

 private:
  // The functions that the score calls.
  struct Commands;
  struct LuaCloser {
    void operator()(lua_State* L) const;
  };

  Engine& engine;
  std::unique_ptr<lua_State, LuaCloser> lua;
  std::string scoreFolder;
  std::string output;
  std::string outputSample;
};

}  // namespace vemora
