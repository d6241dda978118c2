// A pfield's value during a note: a number stays put; a table is stretched
// over the note so that frame 0 reads its first entry and the note's last
// frame its last entry, linearly interpolated in between.
#pragma once

#include "Engine.h"

namespace vemora {

// value is the pfield's number, table its table or null.
double pfieldValueAt(double value, const TablePtr& table, long frame, int noteFrames);

inline double pfieldValueAt(const PField& field, long frame, int noteFrames) {
  return pfieldValueAt(field.value, field.table, frame, noteFrames);
}

}  // namespace vemora
