// The real-time instrument interface: what a plug-in builds against.
//
// A real-time instrument derives from Instrument; the engine makes one object
// per note through the factory that the plug-in registered with addrtInst,
// calls init once, configure once before the first chunk, run once per chunk
// and destroys the object when the note ends.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <new>

#include "plugin_interface.h"

// Marks the names a plug-in exports (plug-ins build with hidden visibility).
#define VEMORA_EXPORT __attribute__((visibility("default")))

class Instrument;
class PFieldSet;

namespace vemora {
struct NoteState;  // the engine's private per-note record
}

using InstCreatorFunction = Instrument* (*)();

// Registration record. A plug-in keeps one in writable static storage; the
// engine may link records through rt_next.
struct rt_item {
  rt_item* rt_next;
  InstCreatorFunction rt_ptr;
  const char* rt_name;
};

class Instrument {
 public:
  Instrument();
  virtual ~Instrument();

  virtual int setup(PFieldSet* pfields);
  virtual int init(double* p, int nargs) = 0;
  // Fills the current values of the note's pfields: bit i of fieldMask
  // selects p[i]; a mask of 0 selects every i < n. Table pfields give their
  // value at the note's current frame (frameCursor).
  virtual int update(double* p, int n, unsigned fieldMask = 0);
  virtual int configure();
  virtual int run() = 0;

  // A score of many notes makes and drops instruments by the thousand, so
  // the engine keeps the memory of those it makes for its notes in a pool of
  // its own; any other comes from the general heap. Nothing to do for a
  // plug-in: new and delete work as usual. An over-aligned instrument comes
  // from the general heap.
  static void* operator new(std::size_t size);
  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
  static void* operator new(std::size_t, void* place) noexcept { return place; }
  static void* operator new(std::size_t size, std::align_val_t align) { return ::operator new(size, align); }
  static void operator delete(void* inst) noexcept;
  static void operator delete(void* inst, const std::nothrow_t&) noexcept;
  static void operator delete(void*, void*) noexcept {}
  static void operator delete(void* inst, std::align_val_t align) noexcept { ::operator delete(inst, align); }

  // Adds one frame of outChanCount samples to this chunk's output. Both are
  // inline so that the frame loop of an instrument built with this header
  // adds without a call; the engine also exports rtaddout(float*) under its
  // own name for plug-ins that declare it rather than include this header.
  inline int rtaddout(float* frame);
  inline int rtaddout(const float* frame);
  int set_bus_config(const char* name);
  // The table carried by pfield i, or null (and *len = 0) when it carries
  // none. The non-const form is the one the plug-in interface documents,
  // and so the one a plug-in that declares it itself binds by name.
  double* getPFieldTable(int i, int* len);
  double* getPFieldTable(int i, int* len) const;

  int frameCursor = 0;  // next note frame
  int chunkFrames = 0;  // frames asked of this run call
  int inChanCount = 0;
  int outChanCount = 0;
  int ctrlSkip = 0;  // control period in frames, kept by the engine
  int noteFrames = 0;
  float* outBuffer = nullptr;  // this chunk's interleaved output

  static float SR;
  static int RTBUFSAMPS;

  // Engine bookkeeping; not for plug-in code.
  int outFramesAdded = 0;
  int outFramesCapacity = 0;
  vemora::NoteState* noteState = nullptr;
};

// Places the note: start and duration in seconds. Sets noteFrames and
// outChanCount. Returns -1 when the engine refuses the placement.
int rtsetoutput(float start, float dur, Instrument* inst);
// Opens the current input at inskip seconds for this note. Sets inChanCount.
int rtsetinput(float inskip, Instrument* inst);
// Reads the note's next n interleaved input samples; zeros past the end.
int rtgetin(float* buf, Instrument* inst, int n);
// Asks that the note's frames be added straight into the engine's mix: from
// then on outBuffer may point into a block that already holds other notes'
// sound, so the instrument must only add to it (as rtaddout does), never
// store into it or read it back. The engine then neither zeroes a chunk for
// the note nor mixes one. (It still hands over a zeroed chunk of its own
// when the note's channels are not the output's, in order.) Call it from
// init; returns -1 outside a note.
int rtaddinplace(Instrument* inst);

int addrtInst(rt_item* item);

// Refuses a note. Returns -1 for init to hand back; inside a legacy note it
// does not return (the engine abandons the note).
int die(const char* name, const char* format, ...) __attribute__((format(printf, 2, 3)));
void merror(const char* name);
void vemora_advise(const char* name, const char* format, ...) __attribute__((format(printf, 2, 3)));

extern int resetval;    // control updates per second
extern int bang_ready;  // raised by HOSTPING, read and cleared by the host

class MMPrint {
 public:
  static constexpr int kBufferBytes = 32768;
  static char mm_print_buf[kBufferBytes];
  static char* mm_print_ptr;
};

// Runs once per frame in most instruments: the members are read once into
// locals (the stores into the chunk could otherwise force them to be read
// again), and a stereo frame, the common case, is added without a loop.
inline int Instrument::rtaddout(const float* frame) {
  const int added = outFramesAdded;
  if (added >= outFramesCapacity) return 0;
  const int channels = outChanCount;
  float* dst = outBuffer + static_cast<ptrdiff_t>(added) * channels;
  if (channels == 2) {
    dst[0] += frame[0];
    dst[1] += frame[1];
  } else {
    for (int c = 0; c < channels; ++c) dst[c] += frame[c];
  }
  outFramesAdded = added + 1;
  return channels;
}

inline int Instrument::rtaddout(float* frame) { return rtaddout(static_cast<const float*>(frame)); }
