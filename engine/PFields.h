// A pfield's value during a note: a number stays put; a table is stretched
// over the note so that frame 0 reads its first entry and the note's last
// frame its last entry, linearly interpolated in between.
#pragma once

#include "Engine.h"

namespace vemora {

double pfieldValueAt(const PField& field, long frame, int noteFrames);

}  // namespace vemora
