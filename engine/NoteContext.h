// What a note learns of the engine while it is made and placed: where its
// messages go, the output's width, the bus configurations and the score's
// current input. The engine keeps one and hands it to every note it makes,
// real-time or legacy; a note keeps a pointer to it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "MessageLog.h"
#include "SoundInput.h"

namespace vemora {

struct BusConfig {
  std::vector<int> inChannels;   // empty: every channel of the input
  std::vector<int> outChannels;  // empty: every output channel, in order
};

struct NoteContext {
  explicit NoteContext(MessageLog& log) : log(log) {}

  MessageLog& log;
  int outputChannels = 0;
  std::map<std::string, BusConfig> busConfigs;  // by instrument name
  std::shared_ptr<SoundInput> input;            // what rtsetinput opens; null before rtinput
  // The frame that the start time of a note being made counts from: 0 in a
  // score, the live stream's position when a client plays the note.
  int64_t origin = 0;

  // The output channels a note of this instrument writes, in order.
  std::vector<int> outChannelsOf(const std::string& instrument) const {
    auto it = busConfigs.find(instrument);
    if (it != busConfigs.end() && !it->second.outChannels.empty()) return it->second.outChannels;
    std::vector<int> all(static_cast<size_t>(outputChannels));
    for (int c = 0; c < outputChannels; ++c) all[size_t(c)] = c;
    return all;
  }
};

}  // namespace vemora
