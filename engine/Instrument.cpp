// The Instrument base class and the calls through which a real-time note
// places itself, reads its input and reads its pfields.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "Note.h"
#include "PFields.h"

float Instrument::SR = 44100.0f;
int Instrument::RTBUFSAMPS = 512;
int resetval = 1000;
int bang_ready = 0;

using vemora::MessageKind;
using vemora::NoteState;

namespace {

// Notes longer than this many frames cannot be counted in an int.
constexpr double kMaxFrames = double(std::numeric_limits<int>::max());

void refuse(const NoteState* note, const std::string& text) {
  note->context->log.report(MessageKind::Refusal, note->name, text);
}

std::string seconds(double value) {
  if (std::isnan(value)) return "nan";  // whatever its sign bit
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

}  // namespace

Instrument::~Instrument() = default;

int Instrument::setup(PFieldSet*) { return 0; }

int Instrument::configure() { return 0; }

int Instrument::update(double* p, int n, unsigned fieldMask) {
  if (!noteState || !p) return -1;
  const vemora::PFieldList& fields = noteState->pfields;
  for (int i = 0; i < n; ++i) {
    const bool selected = fieldMask == 0 || (i < 32 && (fieldMask & (1u << i)));
    if (!selected) continue;
    if (i < int(fields.size())) {
      const vemora::PFieldList::Field field = fields[size_t(i)];
      p[i] = vemora::pfieldValueAt(field.value, field.table, frameCursor, noteFrames);
    } else {
      p[i] = 0.0;
    }
  }
  return 0;
}

double* Instrument::getPFieldTable(int i, int* len) const {
  if (len) *len = 0;
  if (!noteState || i < 0 || i >= int(noteState->pfields.size())) return nullptr;
  const vemora::TablePtr& table = noteState->pfields[size_t(i)].table;
  if (!table) return nullptr;
  if (len) *len = int(table->values.size());
  return const_cast<double*>(table->values.data());
}

double* Instrument::getPFieldTable(int i, int* len) {
  return static_cast<const Instrument*>(this)->getPFieldTable(i, len);
}

// rtaddout is inline for the plug-ins built with Instrument.h; naming it here
// makes the library carry (and export) one copy too, which a plug-in that
// declares `int rtaddout(float*)` itself binds when it is loaded.
[[gnu::used]] static int (Instrument::*const kExportedRtaddout)(float*) = &Instrument::rtaddout;

int Instrument::set_bus_config(const char* name) {
  if (!noteState || !noteState->context || !name) return -1;
  const auto& configs = noteState->context->busConfigs;
  // Most scores configure no bus: then there is no name to look up.
  auto it = configs.empty() ? configs.end() : configs.find(name);
  const int outputs = noteState->context->outputChannels;
  noteState->outChannels.clear();
  if (noteState->input) noteState->input->channels.clear();
  if (it != configs.end()) {
    noteState->outChannels = it->second.outChannels;
    if (!it->second.inChannels.empty()) {
      if (!noteState->input) noteState->input = std::make_unique<vemora::NoteInput>();
      noteState->input->channels = it->second.inChannels;
    }
  }
  if (noteState->outChannels.empty()) noteState->outChannels.setFirst(outputs);
  return 0;
}

int rtsetoutput(float start, float dur, Instrument* inst) {
  NoteState* note = inst ? inst->noteState : nullptr;
  if (!note || !note->context) return -1;
  const double sr = Instrument::SR;
  if (!std::isfinite(start) || !std::isfinite(dur)) {
    refuse(note, std::string(std::isfinite(start) ? "duration " + seconds(dur) : "start time " + seconds(start)) +
                     " is not a finite number of seconds");
    return -1;
  }
  if (start < 0.0f) {
    refuse(note, "start time " + seconds(start) + " s is before the start of the score");
    return -1;
  }
  if (dur < 0.0f) {
    refuse(note, "duration " + seconds(dur) + " s is not a length of time");
    return -1;
  }
  const double startFrames = std::floor(double(start) * sr + 0.5);
  const double durFrames = std::floor(double(dur) * sr + 0.5);
  if (durFrames > kMaxFrames || startFrames > kMaxFrames) {
    refuse(note,
           "a note from " + seconds(start) + " s lasting " + seconds(dur) + " s is longer than the engine can render");
    return -1;
  }
  note->startFrame = int64_t(startFrames) + note->context->origin;
  note->placed = true;
  inst->noteFrames = int(durFrames);
  inst->outChanCount = int(note->outChannels.size());
  return 0;
}

int rtaddinplace(Instrument* inst) {
  NoteState* note = inst ? inst->noteState : nullptr;
  if (!note) return -1;
  note->addsInPlace = true;
  return 0;
}

int rtsetinput(float inskip, Instrument* inst) {
  NoteState* note = inst ? inst->noteState : nullptr;
  if (!note || !note->context) return -1;
  const std::shared_ptr<vemora::SoundInput>& input = note->context->input;
  if (!input) {
    refuse(note, "this note reads input, but the score has not named one (call rtinput first)");
    return -1;
  }
  if (input->sampleRate() != double(Instrument::SR)) {
    refuse(note, "the input \"" + input->name() + "\" runs at " + seconds(input->sampleRate()) +
                     " Hz but the render runs at " + seconds(Instrument::SR) + " Hz");
    return -1;
  }
  if (!std::isfinite(inskip)) {
    refuse(note, "input start " + seconds(inskip) + " is not a finite number of seconds");
    return -1;
  }
  if (inskip < 0.0f) {
    refuse(note, "input start " + seconds(inskip) + " s is before the start of the input");
    return -1;
  }
  if (!note->input) note->input = std::make_unique<vemora::NoteInput>();
  vemora::NoteInput& picked = *note->input;
  for (size_t c = 0; c < picked.channels.size(); ++c) {
    const int channel = picked.channels[c];
    if (channel >= input->channels()) {
      refuse(note, "the bus configuration reads input channel " + std::to_string(channel) + " of a " +
                       std::to_string(input->channels()) + "-channel input");
      return -1;
    }
  }
  picked.source = input;
  // A start far past any input reads silence all the same; holding it at
  // 2^62 frames keeps the cursor, and what reads advance it by, countable.
  constexpr double kFarPastAnyInput = 4611686018427387904.0;  // 2^62
  picked.frame = int64_t(std::min(std::floor(double(inskip) * Instrument::SR + 0.5), kFarPastAnyInput));
  // The input device is read at the frames the note renders: its skip
  // reads that far back instead of that far in.
  if (input->arrivesLive()) {
    if (!note->placed) {
      refuse(note, "this note reads the input device before it has placed itself (rtsetoutput comes first)");
      return -1;
    }
    picked.frame = note->startFrame - picked.frame;
  }
  if (picked.channels.empty()) {
    inst->inChanCount = input->channels();
  } else {
    inst->inChanCount = int(picked.channels.size());
    picked.scratch.assign(size_t(Instrument::RTBUFSAMPS) * size_t(input->channels()), 0.0f);
  }
  return 0;
}

int rtgetin(float* buf, Instrument* inst, int n) {
  NoteState* note = inst ? inst->noteState : nullptr;
  if (!note || !buf || n <= 0) return 0;
  const int channels = inst->inChanCount;
  if (!note->input || !note->input->source || channels <= 0) {
    std::memset(buf, 0, sizeof(float) * size_t(n));
    return n;
  }
  vemora::NoteInput& input = *note->input;
  const int frames = n / channels;
  std::memset(buf + size_t(frames) * size_t(channels), 0, sizeof(float) * size_t(n - frames * channels));
  const int fileChannels = input.source->channels();
  const vemora::ChannelList& picked = input.channels;
  if (picked.empty() || (picked.inOrder() && channels == fileChannels)) {
    input.source->read(input.frame, frames, buf);
  } else {
    // A bus picks some of the input's channels: read whole frames in pieces
    // that fit the scratch buffer, then keep the chosen channels.
    const int piece = Instrument::RTBUFSAMPS;
    for (int done = 0; done < frames; done += piece) {
      const int count = std::min(piece, frames - done);
      input.source->read(input.frame + done, count, input.scratch.data());
      for (int f = 0; f < count; ++f)
        for (int c = 0; c < channels; ++c)
          buf[size_t(done + f) * size_t(channels) + size_t(c)] =
              input.scratch[size_t(f) * size_t(fileChannels) + size_t(picked[size_t(c)])];
    }
  }
  input.frame += frames;
  return n;
}
