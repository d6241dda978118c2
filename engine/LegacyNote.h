// Legacy note functions: called once, they write the whole note through the
// numbered-file calls into a buffer of the note's own, which the renderer
// mixes into the output at the note's start.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Engine.h"
#include "Note.h"
#include "legacy_note.h"

namespace vemora {

struct LegacyNoteState {
  std::string name;
  std::vector<TablePtr> heldTables;
  bool placementRefused = false;  // setnote refused: the note counts as refused
  bool died = false;              // it called die, whose text is dieText
  std::string dieText;
  int64_t origin = 0;  // the frame its start time counts from (see NoteState::origin)

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

// What a call of a legacy function came to.
struct LegacyCall {
  double value = 0.0;             // the function's value
  bool placedOutput = false;      // it placed a note (setnote)
  bool refused = false;           // it called die, its note was not placed, or memory ran out
  bool placementRefused = false;  // the engine would not place its note (or had no memory for it)
  bool died = false;              // it called die, saying dieText
  std::string dieText;
  BufferedNote note;  // the note it wrote, when it placed one and was not refused
};

// Calls a registered legacy function with the given arguments; the note it
// places starts counting from origin.
LegacyCall callLegacyFunction(const std::string& name, LegacyFunction fn, const std::vector<double>& args,
                              int64_t origin);

}  // namespace vemora
