// A real-time note as the engine keeps it: the instrument object and what the
// engine knows of the note (placement, pfields, input cursor, channels).
//
// A score is read whole before the render starts, so every note of it waits
// here at once: a 200,000-note score holds 200,000 of these. What a note
// keeps is therefore kept small: the name is shared by all notes of an
// instrument, the usual channel list (the first n channels, in order) is held
// as its length, the numbers of a short pfield list and a few held tables
// sit in place, and what only some notes need (an input cursor, table
// pfields, a long pfield list, more tables) is allocated only then.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "Engine.h"
#include "Instrument.h"
#include "MemoryBudget.h"
#include "NoteContext.h"
#include "RecordPool.h"
#include "SoundInput.h"

namespace vemora {

// An instrument's name, held once for all the notes that carry it.
class NoteName {
 public:
  NoteName& operator=(const std::string& name);
  const std::string& str() const { return *text; }
  operator const std::string&() const { return *text; }

 private:
  static inline const std::string none;
  const std::string* text = &none;
};

// The pfields a note was called with: their numbers, and the tables of those
// that carry one (most notes carry none, and then hold no table array). The
// numbers of a note of up to kInPlace pfields, most notes, sit in place; a
// longer list has an array of its own.
class PFieldList {
 public:
  struct Field {
    double value;
    const TablePtr& table;
  };

  PFieldList() = default;
  ~PFieldList() { release(); }
  PFieldList(const PFieldList&) = delete;
  PFieldList& operator=(const PFieldList&) = delete;

  // Takes the fields: their tables are moved out.
  PFieldList& operator=(std::span<PField> fields);
  size_t size() const { return size_t(count); }
  Field operator[](size_t i) const { return {values()[i], tables ? tables[i] : noTable}; }

 private:
  static constexpr int kInPlace = 5;
  const double* values() const { return count > kInPlace ? stored.apart : stored.inPlace; }
  void release();

  union Values {
    double inPlace[kInPlace];
    double* apart;  // count > kInPlace: new[]'d
  } stored{};
  std::unique_ptr<TablePtr[]> tables;
  int count = 0;
  static inline const TablePtr noTable;
};

// The channels a note uses, in order: channel i of the note goes to (or comes
// from) channel list[i]. A list of the first n channels is kept as n alone.
class ChannelList {
 public:
  bool empty() const { return count == 0; }
  size_t size() const { return size_t(count); }
  int operator[](size_t i) const { return list ? list[i] : int(i); }
  // True when channel i is channel i for every i.
  bool inOrder() const { return !list; }
  void clear();
  void setFirst(int n);  // 0, 1, ... n - 1
  ChannelList& operator=(const std::vector<int>& channels);

 private:
  std::unique_ptr<int[]> list;  // null: channel i is i
  int count = 0;
};

// Tables a note looked up with floc, held so that a slot remade while the
// note waits or sounds cannot take them away. A table looked up again is not
// held twice.
class HeldTables {
 public:
  void push_back(const TablePtr& table);
  size_t size() const;

 private:
  static constexpr int kInPlace = 4;
  TablePtr inPlace[kInPlace];
  std::unique_ptr<std::vector<TablePtr>> more;
};

// Where a note reads the score's input: made by rtsetinput, or before that
// by a bus configuration that picks input channels.
struct NoteInput {
  ChannelList channels;  // input channels the note reads, in order; empty: all
  std::shared_ptr<SoundInput> source;
  int64_t frame = 0;           // next frame to read
  std::vector<float> scratch;  // whole input frames, when a bus picks channels
};

struct NoteState {
  const NoteContext* context = nullptr;  // the engine as the note sees it
  NoteName name;
  PFieldList pfields;
  HeldTables heldTables;
  ChannelList outChannels;  // output channel of each note channel
  int64_t startFrame = 0;
  std::unique_ptr<NoteInput> input;  // null for a note that reads no input
  bool placed = false;
  bool addsInPlace = false;  // the instrument called rtaddinplace
};

struct InstrumentDeleter {
  void operator()(Instrument* inst) const;
};

struct RealtimeNote {
  // Made in the engine's record pool: new (pool) RealtimeNote.
  static void* operator new(std::size_t size, RecordPool& pool) { return RecordPool::allocate(&pool, size); }
  static void operator delete(void* note, RecordPool&) noexcept { RecordPool::release(note); }
  static void operator delete(void* note) noexcept { RecordPool::release(note); }

  NoteState state;
  std::unique_ptr<Instrument, InstrumentDeleter> inst;
  int framesDone = 0;
  bool configured = false;
  bool ranOnce = false;

  int64_t start() const { return state.startFrame; }
  int frames() const { return inst->noteFrames; }
};

// Notes the engine played and refused so far. A note that fails while it
// plays moves from the one to the other.
struct NoteTally {
  int played = 0;
  int refused = 0;
  int ofNoLength = 0;  // played, but with no frames to write
  void dropped() {
    --played;
    ++refused;
  }
};

// A legacy note's output, written whole before rendering starts.
struct BufferedNote {
  int64_t startFrame = 0;
  int channels = 0;
  std::vector<int> outChannels;
  std::vector<float> frames;  // interleaved
  MemoryCharge charge;        // what frames take from the engine's budget
  int64_t frameCount() const { return channels ? int64_t(frames.size()) / channels : 0; }
};

inline NoteName& NoteName::operator=(const std::string& name) {
  // Every name a note has carried; there are as many as registered names.
  static std::set<std::string> names;
  // Notes mostly follow notes of the same instrument: the last name found is
  // tried first.
  static const std::string* last = &none;
  if (*last != name) last = &*names.insert(name).first;
  text = last;
  return *this;
}

inline void ChannelList::clear() {
  list.reset();
  count = 0;
}

inline void ChannelList::setFirst(int n) {
  list.reset();
  count = n;
}

inline ChannelList& ChannelList::operator=(const std::vector<int>& channels) {
  bool first = true;
  for (size_t i = 0; i < channels.size(); ++i) first = first && channels[i] == int(i);
  list.reset();
  if (!first) {
    list = std::make_unique<int[]>(channels.size());
    std::copy(channels.begin(), channels.end(), list.get());
  }
  count = int(channels.size());
  return *this;
}

inline void HeldTables::push_back(const TablePtr& table) {
  if (!table) return;
  for (TablePtr& held : inPlace) {
    if (held == table) return;
    if (!held) {
      held = table;
      return;
    }
  }
  if (!more) more = std::make_unique<std::vector<TablePtr>>();
  for (const TablePtr& held : *more)
    if (held == table) return;
  more->push_back(table);
}

inline size_t HeldTables::size() const {
  size_t n = more ? more->size() : 0;
  for (const TablePtr& held : inPlace) n += held ? 1 : 0;
  return n;
}

}  // namespace vemora
