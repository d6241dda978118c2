// Text from a score or a client, made safe to print inside one message line.
#pragma once

#include <string>

namespace vemora {

// Control characters (newline, carriage return, escape, NUL, DEL ...) become
// C-style escapes (\n, \r, \t, \xNN), so that a name or text cannot end a
// message line early, start a forged one or move the terminal's cursor.
// Bytes from 0x80 up (UTF-8) are kept as they are.
std::string printable(const std::string& text);

}  // namespace vemora
