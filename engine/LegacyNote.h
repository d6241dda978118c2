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

// Thrown inside a legacy note (by die, or when its output would pass what
// the engine holds) so that the note is abandoned without returning into it;
// the engine catches it around the call.
struct LegacyNoteAbort {};

// A legacy note while its function runs. The numbered-file calls a plug-in
// makes (setnote, bgetin, baddout, getsample ...) land in these members.
struct LegacyNoteState {
  // Places file fno (0: the input, 1: the output) at start for dur seconds;
  // returns its frames, or -1 when refused.
  int place(float start, float dur, int fno);
  // Adds n samples at the output's write position.
  int addSamples(const float* samples, int n);
  // Reads n input samples from bgetin's position on.
  int readInput(float* buf, int n);
  // The input frame at pos frames from the input's placed start, read
  // between its two neighbours; 0 when pos lies outside the input.
  int sampleInput(double pos, float* frame);
  int moveInput(int frames);
  int moveOutput(int frames);
  // A refusal of the note by the engine: reported, and the note counts as refused.
  void refuse(const std::string& text);

  const NoteContext* context = nullptr;
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

// Calls a registered legacy function with the given arguments, as a note of
// the given context; the note it places starts counting from origin.
LegacyCall callLegacyFunction(const NoteContext& context, const std::string& name, LegacyFunction fn,
                              const std::vector<double>& args, int64_t origin);

}  // namespace vemora
