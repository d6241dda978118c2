#include "PrintableText.h"

#include <cstdio>

namespace vemora {

std::string printable(const std::string& text) {
  std::string shown;
  shown.reserve(text.size());
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    switch (ch) {
      case '\n':
        shown += "\\n";
        continue;
      case '\r':
        shown += "\\r";
        continue;
      case '\t':
        shown += "\\t";
        continue;
      default:
        break;
    }
    if (byte < 0x20 || byte == 0x7f) {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      shown += escape;
    } else {
      shown += ch;
    }
  }
  return shown;
}

}  // namespace vemora
