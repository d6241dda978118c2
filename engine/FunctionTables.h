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

 private:
  std::map<int, TablePtr> slots;
};

}  // namespace vemora
