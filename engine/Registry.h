// Registered names: real-time instruments to their factories, legacy note
// functions and score functions to their functions. One name, one entry.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "Instrument.h"
#include "legacy_note.h"

namespace vemora {

class Registry {
 public:
  bool addInstrument(const std::string& name, InstCreatorFunction factory);
  bool addFunction(const std::string& name, LegacyFunction fn);
  InstCreatorFunction instrument(const std::string& name) const;
  LegacyFunction function(const std::string& name) const;
  bool has(const std::string& name) const;
  // Names registered since the last call, in registration order.
  std::vector<std::string> takeNewNames();

 private:
  std::map<std::string, InstCreatorFunction> instruments;
  mutable const std::pair<const std::string, InstCreatorFunction>* lastInstrument = nullptr;
  std::map<std::string, LegacyFunction> functions;
  std::vector<std::string> newNames;
};

}  // namespace vemora
