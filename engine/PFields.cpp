#include "PFields.h"

#include <algorithm>

#include "Note.h"

namespace vemora {

double pfieldValueAt(double value, const TablePtr& table, long frame, int noteFrames) {
  if (!table || table->values.empty()) return value;
  const std::vector<double>& values = table->values;
  const size_t last = values.size() - 1;
  if (last == 0 || noteFrames <= 1 || frame <= 0) return values[0];
  if (frame >= noteFrames - 1) return values[last];
  const double position = double(frame) * double(last) / double(noteFrames - 1);
  const size_t index = std::min(size_t(position), last - 1);
  const double fraction = position - double(index);
  return values[index] + (values[index + 1] - values[index]) * fraction;
}

void PFieldList::release() {
  if (count > kInPlace) delete[] stored.apart;
  count = 0;
}

PFieldList& PFieldList::operator=(std::span<PField> fields) {
  release();
  tables.reset();
  double* values = stored.inPlace;
  if (fields.size() > size_t(kInPlace)) values = stored.apart = new double[fields.size()];
  count = int(fields.size());
  for (size_t i = 0; i < fields.size(); ++i) {
    values[i] = fields[i].value;
    if (fields[i].table) {
      if (!tables) tables = std::make_unique<TablePtr[]>(fields.size());
      tables[i] = std::move(fields[i].table);
    }
  }
  return *this;
}

}  // namespace vemora
