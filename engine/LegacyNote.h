// Legacy note functions: called once, they write the whole note through the
// numbered-file calls into a buffer of the note's own, which the renderer
// mixes into the output at the note's start.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Engine.h"
#include "legacy_note.h"

namespace vemora {

struct BufferedNote;

struct LegacyNoteState {
  std::string name;
  std::vector<TablePtr> heldTables;
  bool placementRefused = false;  // setnote refused: the note counts as refused

  // File 0: the score's input.
  std::shared_ptr<SoundInput> input;
  int64_t inputStartFrame = 0;  // where getsample's position 0 lies
  int64_t inputSample = 0;      // bgetin's position, in samples from the file's start
  std::vector<float> readScratch;
  int64_t cacheStart = 0;  // frames held for getsample
  int cacheFrames = 0;
  std::vector<float> cache;

  // File 1: the note's own output buffer.
  bool outputPlaced = false;
  int64_t outputStartFrame = 0;
  int64_t outputSample = 0;  // write position, in samples from the note's start
  int64_t placedFrames = 0;
  int64_t highestSample = -1;  // highest sample written
  int channels = 0;
  std::vector<int> outChannels;
  std::vector<float> buffer;
};

// Calls a registered legacy function with the given arguments. On return,
// when the function placed output, *written holds its note.
// Returns the function's value; sets *refused when it called die, when the
// engine refused to place it (and then *placementRefused too) and when it
// ran out of memory.
double callLegacyFunction(const std::string& name, LegacyFunction fn, const std::vector<double>& args,
                          BufferedNote* written, bool* placedOutput, bool* refused, bool* placementRefused);

}  // namespace vemora
