// The score reader on arbitrary text. The text runs as a score in the
// examples folder (so "sounds/voice.wav" and every plug-in can be reached),
// bounded in steps and memory so that endless loops and runaway growth end
// with the reader's own messages. A refused score (ScoreError) is a good
// outcome; any other exception, a crash, a leak or a sanitizer report is a
// finding. A short score is also rendered, so that the notes it made run.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Engine.h"
#include "ScoreReader.h"

namespace {

constexpr long long kMostSteps = 2'000'000;
constexpr size_t kMostMemoryBytes = size_t(64) << 20;
constexpr int kMostNotesRendered = 32;
constexpr double kMostSecondsRendered = 0.25;

// Run before the text, in the same Lua state; it is the harness's, not the
// score's. Legacy note functions write their whole note when called, so their
// cost follows their arguments (times the rate and the channels) up to the
// engine's bound of gigabytes, and the granular ones start up to one grain
// per frame, each up to the note's length: the harness keeps their numbers
// small (flurry's within +-0.05, gravy's and twirl's within +-0.1,
// argprobe's within +-10) and the rate and channels too. Lua's pattern
// matcher backtracks without bound inside one call (".-.-.-b" over a long
// subject), which no step count sees; it is Lua's own code, so the harness
// takes string.find, match, gmatch and gsub away. Everything it uses is held
// in locals, which the score cannot reach.
constexpr const char* kPrelude = R"(
local engineLoad, engineSetOption = load, set_option
local rawget, rawset, type, select, error, pairs, tonumber = rawget, rawset, type, select, error, pairs, tonumber
local match = string.match
string.find, string.match, string.gmatch, string.gsub = nil, nil, nil, nil
local legacyNotes = {flurry = 0.05, gravy = 0.1, twirl = 0.1, argprobe = 10}
local bounded = {}

local function bound(name, note, most)
  local guard = function(...)
    for i = 1, select("#", ...) do
      local x = select(i, ...)
      if type(x) == "number" and not (x >= -most and x <= most) then
        error(name .. ": the fuzz harness keeps this legacy note's numbers within +-" .. most, 2)
      end
    end
    return note(...)
  end
  bounded[guard] = true
  return guard
end

function load(name)
  engineLoad(name)
  for note, most in pairs(legacyNotes) do
    local f = rawget(_G, note)
    if type(f) == "function" and not bounded[f] then rawset(_G, note, bound(note, f, most)) end
  end
end

function set_option(...)
  for i = 1, select("#", ...) do
    local option = select(i, ...)
    if type(option) == "string" then
      local key, value = match(option, "^([^=]*)=(.*)$")
      local most = (key == "sr" and 48000) or (key == "channels" and 8) or nil
      if most and not (tonumber(value) and tonumber(value) <= most) then
        error("set_option: the fuzz harness keeps " .. key .. " at most " .. most, 2)
      end
    end
  end
  return engineSetOption(...)
end
)";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vemora::Engine engine;
  engine.setEchoMessages(false);
  vemora::ScoreLimits limits;
  limits.steps = kMostSteps;
  limits.memoryBytes = kMostMemoryBytes;
  vemora::ScoreReader reader(engine, limits);
  const std::string path = VEMORA_SOURCE_DIR "/examples/fuzz.lua";
  reader.runText(kPrelude, path);
  try {
    reader.runText(std::string(reinterpret_cast<const char*>(data), size), path);
  } catch (const vemora::ScoreError&) {
    return 0;
  }
  const double rate = engine.settings().sampleRate;
  if (engine.notesPlayed() <= kMostNotesRendered && engine.scoreFrames() <= int64_t(kMostSecondsRendered * rate)) {
    try {
      engine.renderToMemory();
    } catch (const vemora::ScoreError&) {
    }
  }
  return 0;
}
