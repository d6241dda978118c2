#include "PFields.h"

#include <algorithm>

namespace vemora {

double pfieldValueAt(const PField& field, long frame, int noteFrames) {
  if (!field.table || field.table->values.empty()) return field.value;
  const std::vector<double>& values = field.table->values;
  const size_t last = values.size() - 1;
  if (last == 0 || noteFrames <= 1 || frame <= 0) return values[0];
  if (frame >= noteFrames - 1) return values[last];
  const double position = double(frame) * double(last) / double(noteFrames - 1);
  const size_t index = std::min(size_t(position), last - 1);
  const double fraction = position - double(index);
  return values[index] + (values[index + 1] - values[index]) * fraction;
}

}  // namespace vemora
