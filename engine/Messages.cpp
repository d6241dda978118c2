// Messages from plug-ins and the engine: one line each on standard error
// (unless the host turned echoing off), kept in the engine's list, and
// appended to MMPrint's buffer for an embedding host.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "EngineState.h"
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

std::string formatText(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length <= 0) return {};
  std::string text(size_t(length) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(size_t(length));
  return text;
}

}  // namespace

void Engine::Impl::report(MessageKind kind, const std::string& name, const std::string& text) {
  messages.push_back({kind, name, text, where});
  // Names and texts may come from a score or a client: shown escaped, so a
  // message stays one line and cannot pass for another.
  std::string line = where.empty() ? "" : where + ": ";
  if (!name.empty()) line += name + ": ";
  line = printable(line + text) + "\n";
  appendToPrintBuffer(line);
  if (deferEcho)
    deferredLines.push_back({kind, line});
  else if (echoMessages)
    std::fputs(line.c_str(), stderr);
}

void Engine::Impl::releaseDeferred(bool dropRefusals) {
  deferEcho = false;
  for (const auto& [kind, line] : deferredLines)
    if (echoMessages && !(dropRefusals && kind == MessageKind::Refusal)) std::fputs(line.c_str(), stderr);
  deferredLines.clear();
}

}  // namespace vemora

using vemora::gContext;
using vemora::MessageKind;

namespace {

void reportOrPrint(MessageKind kind, const char* name, const std::string& text) {
  if (gContext.engine) {
    gContext.engine->report(kind, name ? name : "", text);
  } else {
    std::fprintf(stderr, "%s: %s\n", name ? name : "", text.c_str());
  }
}

}  // namespace

int die(const char* name, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = vemora::formatText(format, args);
  va_end(args);
  reportOrPrint(MessageKind::Refusal, name, text);
  if (gContext.legacy) {
    gContext.legacy->died = true;
    gContext.legacy->dieText = std::move(text);
    throw vemora::LegacyNoteAbort{};
  }
  return -1;
}

void vemora_advise(const char* name, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = vemora::formatText(format, args);
  va_end(args);
  reportOrPrint(MessageKind::Advice, name, text);
}

void merror(const char* name) { reportOrPrint(MessageKind::Error, name, "registration refused"); }
