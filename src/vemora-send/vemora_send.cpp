// vemora-send HOST N [FILE]: sends score commands, one a line, to the engine
// serving socket number N on HOST (started with `vemora -i -n -s N`).
//
//   load PAN
//   rtoutput out.wav
//   SCULPT 0 0.5 0.3 4 0.5
//
// rtinput, rtoutput, set_option, bus_config and load take texts; every other
// command takes numbers. Blank lines and lines starting with # are skipped.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "scorewire.h"

namespace {

bool isTextCommand(const std::string& name) { return scorewire_takes_texts(name.c_str()) != 0; }

void usage(std::FILE* out) {
  std::fprintf(out,
               "usage: vemora-send HOST N [FILE]\n"
               "Sends score commands, one a line (from FILE or standard input), to the engine\n"
               "serving socket number N on HOST: vemora -i -n -s N listens on port 1102 + N.\n"
               "  load PAN | rtoutput out.wav | SCULPT 0 0.5 0.3 4 0.5\n");
}

// Builds the record for one line; returns false (with a message) when it cannot.
bool makeRecord(const std::string& line, int number, RTsockstr* record) {
  std::istringstream words(line);
  std::string name;
  words >> name;
  std::vector<std::string> args;
  for (std::string word; words >> word;) args.push_back(word);
  std::memset(record, 0, sizeof *record);
  if (name.size() >= sizeof record->name) {
    std::fprintf(stderr, "vemora-send: line %d: the command name is longer than %zu characters\n", number,
                 sizeof record->name - 1);
    return false;
  }
  std::strcpy(record->name, name.c_str());
  const bool texts = isTextCommand(name);
  const size_t most = texts ? SCOREWIRE_MAX_TEXTS : SCOREWIRE_MAX_NUMBERS;
  if (args.size() > most) {
    std::fprintf(stderr, "vemora-send: line %d: %s takes at most %zu arguments\n", number, name.c_str(), most);
    return false;
  }
  for (size_t i = 0; i < args.size(); ++i) {
    if (texts) {
      if (args[i].size() >= SCOREWIRE_TEXT_BYTES) {
        std::fprintf(stderr, "vemora-send: line %d: argument %zu is too long\n", number, i + 1);
        return false;
      }
      RTsetsocktext(record, int(i), args[i].data());
      continue;
    }
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(args[i].c_str(), &end);
    if (*end != '\0' || errno == ERANGE) {
      std::fprintf(stderr, "vemora-send: line %d: \"%s\" is not a number\n", number, args[i].c_str());
      return false;
    }
    RTsetsockdata(record, int(i), value);
  }
  record->n_args = int(args.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    usage(stdout);
    return 0;
  }
  if (argc < 3 || argc > 4) {
    usage(stderr);
    return 1;
  }
  char* end = nullptr;
  const long socketNumber = std::strtol(argv[2], &end, 10);
  if (*end != '\0' || socketNumber < 0 || socketNumber > 64000) {
    std::fprintf(stderr, "vemora-send: \"%s\" is not a socket number\n", argv[2]);
    return 1;
  }
  std::ifstream file;
  if (argc == 4) {
    file.open(argv[3]);
    if (!file) {
      std::fprintf(stderr, "vemora-send: cannot read %s: %s\n", argv[3], std::strerror(errno));
      return 1;
    }
  }
  std::istream& in = argc == 4 ? static_cast<std::istream&>(file) : std::cin;
  const int fd = newRTsock(argv[1], int(socketNumber));
  if (fd < 0) {
    std::fprintf(stderr, "vemora-send: no engine listens on %s port %ld\n", argv[1], 1102 + socketNumber);
    return 1;
  }
  RTsockstr record;
  int number = 0;
  int failures = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    if (makeRecord(line, number, &record))
      RTsendsockstr(fd, &record);
    else
      ++failures;
  }
  close(fd);
  return failures ? 1 : 0;
}
