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
  const std::string place = currentWhere();
  kept.push_back({kind, name, text, place});
  if (kind == MessageKind::Advice && advisoryEcho != AdvisoryEcho::Each) {
    if (advisoryEcho == AdvisoryEcho::Summarized) summarize(name, text, place);
    return;
  }
  // Names and texts may come from a score or a client: shown escaped, so a
  // message stays one line and cannot pass for another.
  std::string line = place.empty() ? "" : place + ": ";
  if (!name.empty()) line += name + ": ";
  line = printable(line + text) + "\n";
  appendToPrintBuffer(line);
  if (holding)
    heldLines.push_back({kind, line});
  else if (echo)
    std::fputs(line.c_str(), stderr);
}

void MessageLog::summarize(const std::string& name, const std::string& text, const std::string& place) {
  auto same = [&](const Advisory& a) { return a.name == name && a.text == text; };
  auto it = std::find_if(advisories.begin(), advisories.end(), same);
  if (it == advisories.end()) it = advisories.insert(advisories.end(), Advisory{name, text, place});
  ++it->count;
  if (it->lastSerial != noteSerial) ++it->notes;
  it->lastSerial = noteSerial;
}

void MessageLog::printAdvisorySummary() {
  for (const Advisory& a : advisories) {
    std::string line = a.firstWhere.empty() ? "" : a.firstWhere + ": ";
    if (!a.name.empty()) line += a.name + ": ";
    line += a.text;
    if (a.count > 1) {
      line += " (" + std::to_string(a.notes) + (a.notes == 1 ? " note" : " notes");
      if (a.count > a.notes) line += ", " + std::to_string(a.count) + " times";
      line += a.firstWhere.empty() ? ")" : "; the first at this line)";
    }
    if (echo) std::fputs((printable(line) + "\n").c_str(), stderr);
  }
  advisories.clear();
}

void MessageLog::releaseLines(bool dropRefusals) {
  holding = false;
  for (const auto& [kind, line] : heldLines)
    if (echo && !(dropRefusals && kind == MessageKind::Refusal)) std::fputs(line.c_str(), stderr);
  heldLines.clear();
}

}  // namespace vemora
