// Numbered table slots made by the score. Slots hold shared tables: a note
// that looked a table up keeps it alive after the slot is given a new one.
#pragma once

#include <map>

#include "Engine.h"

namespace vemora {

class FunctionTables {
 public:
  void set(int slot, TablePtr table) { slots[slot] = std::move(table); }
  TablePtr get(int slot) const {
    auto it = slots.find(slot);
    return it == slots.end() ? nullptr : it->second;
  }
  // The table in slot when nothing but the slot holds it (no note looked it
  // up), so that it may be refilled where it is; null otherwise.
  FunctionTable* unshared(int slot) {
    auto it = slots.find(slot);
    if (it == slots.end() || !it->second || it->second.use_count() != 1) return nullptr;
    return const_cast<FunctionTable*>(it->second.get());  // made non-const, shared as const
  }

 private:
  std::map<int, TablePtr> slots;
};

}  // namespace vemora
