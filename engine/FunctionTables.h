// Numbered table slots made by the score. Slots hold shared tables: a note
// that looked a table up keeps it alive after the slot is given a new one.
#pragma once

#include <array>
#include <map>

#include "Engine.h"

namespace vemora {

class FunctionTables {
 public:
  void set(int slot, TablePtr table) { place(slot) = std::move(table); }
  // The slot's table, or null; not a copy, so that a look-up made for every
  // note (an instrument's init asks for its tables one by one) counts no
  // reference.
  const TablePtr* find(int slot) const {
    if (slot >= 0 && slot < kDirectSlots) return direct[size_t(slot)] ? &direct[size_t(slot)] : nullptr;
    auto it = others.find(slot);
    return it == others.end() || !it->second ? nullptr : &it->second;
  }
  // The table in slot when nothing but the slot holds it (no note looked it
  // up), so that it may be refilled where it is; null otherwise.
  FunctionTable* unshared(int slot) {
    const TablePtr* table = find(slot);
    if (!table || table->use_count() != 1) return nullptr;
    return const_cast<FunctionTable*>(table->get());  // made non-const, shared as const
  }

 private:
  // Scores number their tables from 1 up, a few dozen at most: those slots
  // are an index away; any other number is looked up.
  static constexpr int kDirectSlots = 64;

  TablePtr& place(int slot) { return slot >= 0 && slot < kDirectSlots ? direct[size_t(slot)] : others[slot]; }

  std::array<TablePtr, kDirectSlots> direct;
  std::map<int, TablePtr> others;
};

}  // namespace vemora
