#include "MessageLog.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "PrintableText.h"

char MMPrint::mm_print_buf[MMPrint::kBufferBytes];
char* MMPrint::mm_print_ptr = MMPrint::mm_print_buf;

namespace vemora {
namespace {

void appendToPrintBuffer(const std::string& line) {
  char* end = MMPrint::mm_print_buf + MMPrint::kBufferBytes - 1;  // keep a final NUL
  char*& ptr = MMPrint::mm_print_ptr;
  if (ptr < MMPrint::mm_print_buf || ptr > end) return;
  size_t room = size_t(end - ptr);
  size_t n = std::min(room, line.size());
  std::memcpy(ptr, line.data(), n);
  ptr += n;
  *ptr = '\0';
}

}  // namespace

void MessageLog::report(MessageKind kind, const std::string& name, const std::string& text) {
  kept.push_back({kind, name, text, where});
  // Names and texts may come from a score or a client: shown escaped, so a
  // message stays one line and cannot pass for another.
  std::string line = where.empty() ? "" : where + ": ";
  if (!name.empty()) line += name + ": ";
  line = printable(line + text) + "\n";
  appendToPrintBuffer(line);
  if (holding)
    heldLines.push_back({kind, line});
  else if (echo)
    std::fputs(line.c_str(), stderr);
}

void MessageLog::releaseLines(bool dropRefusals) {
  holding = false;
  for (const auto& [kind, line] : heldLines)
    if (echo && !(dropRefusals && kind == MessageKind::Refusal)) std::fputs(line.c_str(), stderr);
  heldLines.clear();
}

}  // namespace vemora
