// A real-time note as the engine keeps it: the instrument object and what the
// engine knows of the note (placement, pfields, input cursor, chunk buffer).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Engine.h"
#include "Instrument.h"
#include "SoundInput.h"

namespace vemora {

struct NoteState {
  std::string name;
  std::string where;
  std::vector<PField> pfields;
  std::vector<TablePtr> heldTables;  // tables looked up with floc during the note

  std::vector<int> inChannels;   // input channels the note reads, in order
  std::vector<int> outChannels;  // output channel of each note channel
  int64_t startFrame = 0;
  bool placed = false;

  std::shared_ptr<SoundInput> input;
  int64_t inputFrame = 0;
  std::vector<float> inputScratch;  // whole input frames, when a bus picks channels

  std::vector<float> chunkBuffer;
};

struct InstrumentDeleter {
  void operator()(Instrument* inst) const;
};

struct RealtimeNote {
  NoteState state;
  std::unique_ptr<Instrument, InstrumentDeleter> inst;
  bool configured = false;
  bool ranOnce = false;
  int framesDone = 0;

  int64_t start() const { return state.startFrame; }
  int frames() const { return inst->noteFrames; }
};

// A legacy note's output, written whole before rendering starts.
struct BufferedNote {
  int64_t startFrame = 0;
  int channels = 0;
  std::vector<int> outChannels;
  std::vector<float> frames;  // interleaved
  int64_t frameCount() const { return channels ? int64_t(frames.size()) / channels : 0; }
};

}  // namespace vemora
