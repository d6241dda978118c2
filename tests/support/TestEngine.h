// Helpers shared by the suites that drive instruments through the engine.
#pragma once

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Engine.h"

namespace vemora::testing {

// An engine with messages kept but not echoed, that finds the test plug-ins.
inline std::unique_ptr<Engine> makeEngine(EngineSettings settings = {}) {
  auto engine = std::make_unique<Engine>(settings);
  engine->setEchoMessages(false);
  engine->addPluginPath(VEMORA_TEST_PLUGIN_DIR);
  return engine;
}

// Interleaved frames: sample(frame, channel).
inline std::vector<float> makeSignal(int frames, int channels, const std::function<float(int, int)>& sample) {
  std::vector<float> data(size_t(frames) * size_t(channels));
  for (int f = 0; f < frames; ++f)
    for (int c = 0; c < channels; ++c) data[size_t(f) * size_t(channels) + size_t(c)] = sample(f, c);
  return data;
}

inline void giveInput(Engine& engine, int frames, int channels, const std::function<float(int, int)>& sample) {
  engine.setInput(memorySoundInput(makeSignal(frames, channels, sample), channels, engine.settings().sampleRate));
}

inline TablePtr makeTable(std::vector<double> values) {
  auto table = std::make_shared<FunctionTable>();
  table->values = std::move(values);
  return table;
}

inline std::string lastMessage(const Engine& engine) {
  return engine.messages().empty() ? std::string() : engine.messages().back().text;
}

}  // namespace vemora::testing
