#include "Registry.h"

#include <utility>

namespace vemora {

bool Registry::addInstrument(const std::string& name, InstCreatorFunction factory) {
  if (name.empty() || !factory || has(name)) return false;
  instruments.emplace(name, factory);
  newNames.push_back(name);
  return true;
}

bool Registry::addFunction(const std::string& name, LegacyFunction fn) {
  if (name.empty() || !fn || has(name)) return false;
  functions.emplace(name, fn);
  newNames.push_back(name);
  return true;
}

InstCreatorFunction Registry::instrument(const std::string& name) const {
  // A score plays one instrument many times running: its entry is kept at
  // hand. Entries are never removed, so the one kept stays valid.
  if (lastInstrument && lastInstrument->first == name) return lastInstrument->second;
  auto it = instruments.find(name);
  if (it == instruments.end()) return nullptr;
  lastInstrument = &*it;
  return it->second;
}

LegacyFunction Registry::function(const std::string& name) const {
  auto it = functions.find(name);
  return it == functions.end() ? nullptr : it->second;
}

bool Registry::has(const std::string& name) const { return instruments.count(name) || functions.count(name); }

std::vector<std::string> Registry::takeNewNames() { return std::exchange(newNames, {}); }

}  // namespace vemora
