// The calls plug-ins make into the engine, each handed on to the engine and
// note they act for (see PluginCalls.h).
#include "PluginCalls.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "FunctionTables.h"
#include "LegacyNote.h"
#include "MessageLog.h"
#include "RecordPool.h"
#include "Registry.h"
#include "function_tables.h"

namespace vemora {
namespace {

struct CallTarget {
  PluginHost* host = nullptr;
  NoteState* note = nullptr;          // note being made, configured or run
  LegacyNoteState* legacy = nullptr;  // legacy note being called
};
CallTarget target;

std::string formatText(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length <= 0) return {};
  std::string text(size_t(length) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(size_t(length));
  return text;
}

void reportOrPrint(MessageKind kind, const char* name, const std::string& text) {
  if (target.host) {
    target.host->log.report(kind, name ? name : "", text);
  } else {
    std::fprintf(stderr, "%s: %s\n", name ? name : "", text.c_str());
  }
}

constexpr int kInput = 0;
constexpr int kOutput = 1;

int addFrameToOutput(float* frame, int fno) {
  if (fno != kOutput || !target.legacy) return -1;
  return target.legacy->addSamples(frame, target.legacy->channels);
}

int addFrameToNothing(float*, int) { return -1; }

int sampleInput(double pos, float* frame, int fno) {
  return fno == kInput && target.legacy ? target.legacy->sampleInput(pos, frame) : 0;
}

}  // namespace

void usePluginHost(PluginHost* host) { target.host = host; }

void forgetPluginHost(const PluginHost* host) {
  if (target.host == host) target = CallTarget{};
}

PluginCallScope::PluginCallScope(NoteState* note) : outerNote(target.note), outerLegacy(target.legacy) {
  target.note = note;
  target.legacy = nullptr;
}

PluginCallScope::PluginCallScope(LegacyNoteState* note) : outerNote(target.note), outerLegacy(target.legacy) {
  target.note = nullptr;
  target.legacy = note;
}

PluginCallScope::~PluginCallScope() {
  target.note = outerNote;
  target.legacy = outerLegacy;
}

}  // namespace vemora

using vemora::MessageKind;
using vemora::reportOrPrint;
using vemora::target;

// The object finds its note as it is made: the engine opens the note's scope
// before it calls the plug-in's factory.
Instrument::Instrument() : noteState(target.note) {}

// An instrument made while the engine makes a note lives in the engine's
// record pool; any other in the general heap.
void* Instrument::operator new(std::size_t size) {
  return vemora::RecordPool::allocate(target.note && target.host ? &target.host->records : nullptr, size);
}

void* Instrument::operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (...) {
    return nullptr;
  }
}

void Instrument::operator delete(void* inst) noexcept { vemora::RecordPool::release(inst); }
void Instrument::operator delete(void* inst, const std::nothrow_t&) noexcept { vemora::RecordPool::release(inst); }

// Registration.

int addrtInst(rt_item* item) {
  if (!target.host || !item || !item->rt_name) return -1;
  if (!target.host->registry.addInstrument(item->rt_name, item->rt_ptr)) {
    target.host->log.report(MessageKind::Error, "addrtInst",
                            std::string("the name \"") + item->rt_name + "\" is already registered");
    return -1;
  }
  return 0;
}

int addLegacyfunc(const char* name, LegacyFunction fn) {
  if (!target.host || !name) return -1;
  if (!target.host->registry.addFunction(name, fn)) {
    target.host->log.report(MessageKind::Error, "addLegacyfunc",
                            std::string("the name \"") + name + "\" is already registered");
    return -1;
  }
  return 0;
}

// Messages.

int die(const char* name, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = vemora::formatText(format, args);
  va_end(args);
  reportOrPrint(MessageKind::Refusal, name, text);
  if (target.legacy) {
    target.legacy->died = true;
    target.legacy->dieText = std::move(text);
    throw vemora::LegacyNoteAbort{};
  }
  return -1;
}

void vemora_advise(const char* name, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = vemora::formatText(format, args);
  va_end(args);
  reportOrPrint(MessageKind::Advice, name, text);
}

void merror(const char* name) { reportOrPrint(MessageKind::Error, name, "registration refused"); }

// Function tables: a table looked up is held by the note that looked.

double* floc(int slot) {
  if (!target.host) return nullptr;
  const vemora::TablePtr* table = target.host->tables.find(slot);
  if (!table) return nullptr;
  if (target.note) target.note->heldTables.push_back(*table);
  if (target.legacy) target.legacy->heldTables.push_back(*table);
  // Tables are never written through this pointer by the engine; plug-ins
  // take double* by long-standing convention.
  return const_cast<double*>((*table)->values.data());
}

int fsize(int slot) {
  if (!target.host) return 0;
  const vemora::TablePtr* table = target.host->tables.find(slot);
  return table ? int((*table)->values.size()) : 0;
}

// Legacy notes' numbered files: 0 the input, 1 the note's output.

int (*getsample)(double pos, float* frame, int fno) = vemora::sampleInput;
int (*addoutpointer[kLegacyFileCount])(float* frame, int fno) = {vemora::addFrameToNothing, vemora::addFrameToOutput};
int sfdesc[kLegacyFileCount] = {0, 0};

int setnote(float start, float dur, int fno) { return target.legacy ? target.legacy->place(start, dur, fno) : -1; }

// Input read frame by frame through getsample is placed the same way.
int getsetnote(float start, float dur, int fno) { return setnote(start, dur, fno); }

int endnote(int fno) { return fno == vemora::kOutput && target.legacy && target.legacy->outputPlaced ? 0 : -1; }

float SR() { return Instrument::SR; }

int bgetin(float* buf, int fno, int n) {
  return fno == vemora::kInput && target.legacy ? target.legacy->readInput(buf, n) : 0;
}

int baddout(float* buf, int fno, int n) {
  return fno == vemora::kOutput && target.legacy ? target.legacy->addSamples(buf, n) : 0;
}

int inrepos(int frames, int fno) {
  return fno == vemora::kInput && target.legacy ? target.legacy->moveInput(frames) : -1;
}

int outrepos(int frames, int fno) {
  return fno == vemora::kOutput && target.legacy ? target.legacy->moveOutput(frames) : -1;
}
