// Score socket records as the tests build them: blank ones to fill in, and
// their bytes as they travel on a connection.
#pragma once

#include <cstring>
#include <string>

#include "scorewire.h"

namespace programrun {

inline sockdata blankRecord(const char* name, int nArgs) {
  sockdata record;
  std::memset(&record, 0, sizeof record);
  std::strncpy(record.name, name, sizeof record.name - 1);
  record.n_args = nArgs;
  return record;
}

inline std::string bytesOf(const sockdata& record) {
  return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

}  // namespace programrun
