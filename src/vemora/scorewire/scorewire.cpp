// The score socket client. Records go out whole: a short write is followed
// by the rest of the record, so the engine never sees a torn record.
#include "scorewire.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static_assert(sizeof(sockdata) == SCOREWIRE_RECORD_BYTES);
static_assert(offsetof(sockdata, name) == 0);
static_assert(offsetof(sockdata, data) == 100);
static_assert(offsetof(sockdata, n_args) == 8292);
static_assert(sizeof(sockdata::data) == 8192);

namespace {

constexpr size_t kCommandLineBytes = 60;

bool isTextCommand(const char* name) { return scorewire_takes_texts(name) != 0; }

// Copies at most size - 1 characters and always terminates.
void copyText(char* dst, const char* src, size_t size) {
  if (!src) src = "";
  size_t n = std::strlen(src);
  if (n >= size) n = size - 1;
  std::memcpy(dst, src, n);
  dst[n] = '\0';
}

void clearRecord(RTsockstr* record, const char* name) {
  std::memset(record, 0, sizeof *record);
  copyText(record->name, name, sizeof record->name);
}

int connectTo(const char* host, int rtsno, bool* socketFailed) {
  *socketFailed = false;
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) {
    std::perror("socket");
    *socketFailed = true;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(SCOREWIRE_BASE_PORT + rtsno));
  hostent* entry = host ? gethostbyname(host) : nullptr;
  if (!entry || entry->h_addrtype != AF_INET || entry->h_length != int(sizeof address.sin_addr)) {
    // A name that does not resolve is reported as a failed connection.
    errno = EHOSTUNREACH;
    if (fd >= 0) close(fd);
    return -1;
  }
  std::memcpy(&address.sin_addr, entry->h_addr_list[0], sizeof address.sin_addr);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
    const int saved = errno;
    if (fd >= 0) close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

// Writes the whole record, continuing after short writes; stops at an error.
void writeRecord(int fd, const RTsockstr* record) {
  const char* bytes = reinterpret_cast<const char*>(record);
  size_t sent = 0;
  while (sent < sizeof *record) {
    const ssize_t n = write(fd, bytes + sent, sizeof *record - sent);
    if (n < 0) return;
    sent += size_t(n);
  }
}

}  // namespace

extern "C" {

int RTsock(char* ihost, int rtsno) {
  bool socketFailed = false;
  const int fd = connectTo(ihost, rtsno, &socketFailed);
  if (fd < 0) {
    if (!socketFailed) std::perror("connect");
    std::exit(1);
  }
  return fd;
}

int newRTsock(char* ihost, int rtsno) {
  bool socketFailed = false;
  const int fd = connectTo(ihost, rtsno, &socketFailed);
  if (fd < 0) std::perror("connect");
  return fd;
}

RTsockstr* RTnewsockstr(char* name) {
  auto* record = static_cast<RTsockstr*>(std::malloc(sizeof(RTsockstr)));
  if (!record) {
    std::fprintf(stderr, "RTnewsockstr: out of memory\n");
    return nullptr;
  }
  clearRecord(record, name);
  return record;
}

RTsockstr* newRTsockstr(char* name, int n_args) {
  RTsockstr* record = RTnewsockstr(name);
  if (record) record->n_args = n_args;
  return record;
}

void RTsetsockdata(RTsockstr* ssend, int arg, double val) {
  if (!ssend || arg < 0 || arg >= SCOREWIRE_MAX_NUMBERS) return;
  ssend->data.p[arg] = val;
}

void RTsetsocktext(RTsockstr* ssend, int arg, char* text) {
  if (!ssend || arg < 0 || arg >= SCOREWIRE_MAX_TEXTS) return;
  copyText(ssend->data.text[arg], text, SCOREWIRE_TEXT_BYTES);
}

void RTsetsockstr(RTsockstr* ssend, char* cmd, int nargs, double* fields) {
  if (!ssend) return;
  if (nargs < 0) nargs = 0;
  if (nargs > SCOREWIRE_MAX_NUMBERS) nargs = SCOREWIRE_MAX_NUMBERS;
  copyText(ssend->name, cmd, sizeof ssend->name);
  for (int i = 0; i < nargs && fields; ++i) ssend->data.p[i] = fields[i];
  ssend->n_args = nargs;
}

void RTprintsockstr(RTsockstr* ssend) {
  if (!ssend) return;
  // The record may come from anywhere: print the name only up to its slot.
  std::printf("name:  %.*s\n", int(sizeof ssend->name), ssend->name);
  std::printf("nargs:  %d\n", ssend->n_args);
  const int numbers = ssend->n_args < SCOREWIRE_MAX_NUMBERS ? ssend->n_args : SCOREWIRE_MAX_NUMBERS;
  for (int i = 0; i < numbers; ++i) std::printf("p[%d]:  %2.2f\n", i, double(ssend->data.p[i]));
  for (int i = 0; i < SCOREWIRE_MAX_TEXTS && ssend->data.text[i][0] != '\0'; ++i)
    std::printf("text[%d]:  %.*s\n", i, SCOREWIRE_TEXT_BYTES, ssend->data.text[i]);
}

void RTsendsock(const char* cmd, int theSock, int nargs, ...) {
  RTsockstr record;
  clearRecord(&record, cmd);
  const bool texts = isTextCommand(record.name);
  const int most = texts ? SCOREWIRE_MAX_TEXTS : SCOREWIRE_MAX_NUMBERS;
  if (nargs < 0) nargs = 0;
  if (nargs > most) nargs = most;  // only as many as the record holds are read
  va_list args;
  va_start(args, nargs);
  for (int i = 0; i < nargs; ++i) {
    if (texts)
      copyText(record.data.text[i], va_arg(args, const char*), SCOREWIRE_TEXT_BYTES);
    else
      record.data.p[i] = va_arg(args, double);
  }
  va_end(args);
  record.n_args = nargs;
  writeRecord(theSock, &record);
}

void RTsendsockstr(int theSock, RTsockstr* sockstr) {
  if (sockstr) writeRecord(theSock, sockstr);
}

void RTtimeit(float interval, sighandler_t func) {
  const int sec = int(interval);
  const long usec = long((interval - float(sec)) * 1000000.0);
  itimerval timer{};
  timer.it_value.tv_sec = sec;
  timer.it_value.tv_usec = usec;
  timer.it_interval = timer.it_value;
  signal(SIGALRM, func);
  setitimer(ITIMER_REAL, &timer, nullptr);
}

void parse(char* buf, char** args) {
  int count = 0;
  if (!buf || *buf == '\0') {
    args[0] = nullptr;
    return;
  }
  for (;;) {
    while (*buf == ' ' || *buf == '\t') *buf++ = '\0';
    if (count == SCOREWIRE_MAX_ARGS - 1) break;  // the vector is full: keep room for its null
    args[count++] = buf;
    while (*buf != '\0' && *buf != ' ' && *buf != '\t') ++buf;
    if (*buf == '\0') break;
  }
  args[count] = nullptr;
}

int execute(char** args) {
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("fork");
    std::exit(1);
  }
  if (pid == 0) {
    execvp(args[0], args);
    std::perror(args[0]);
    _exit(127);  // never run on in the caller's code
  }
  return int(pid);
}

int RTopensocket(int socket, char* binaryname) {
  if (socket < 0 || socket > 9) {
    std::fprintf(stderr, "RTopensocket: socket number %d is not 0 to 9\n", socket);
    return -1;
  }
  char line[kCommandLineBytes];
  const int length = std::snprintf(line, sizeof line, "%s -i -n -s %i &>zarn.dbug", binaryname, socket);
  if (length < 0 || size_t(length) >= sizeof line) {
    std::fprintf(stderr, "RTopensocket: the command line for \"%s\" is too long\n", binaryname);
    return -1;
  }
  char* args[SCOREWIRE_MAX_ARGS];
  parse(line, args);
  const int pid = execute(args);
  std::printf("zarn process id is %i\n", pid);
  return pid;
}

int RTopensocket_syscall(int socket, char* binaryname) {
  char number[30];
  std::snprintf(number, sizeof number, "%i", socket);
  char line[kCommandLineBytes];
  const int length = std::snprintf(line, sizeof line, "%s -i -n -c -o %s &>zarn.dbug &", binaryname, number);
  if (length < 0 || size_t(length) >= sizeof line) {
    std::fprintf(stderr, "RTopensocket_syscall: the command line for \"%s\" is too long\n", binaryname);
    return -1;
  }
  const int status = std::system(line);
  if (status != 0) std::printf("ZARN system call failed\n");
  return status;
}

void RTkillsocket(int socket, int pid) {
  shutdown(socket, SHUT_RD);
  if (pid > 0) {
    // The whole id, however many digits: a cut id would name another process.
    char command[32];
    std::snprintf(command, sizeof command, "kill %d", pid);
    if (std::system(command) != 0) std::fprintf(stderr, "RTkillsocket: could not stop process %d\n", pid);
  } else {
    std::fprintf(stderr, "RTkillsocket: %d is not a process id\n", pid);
  }
  close(socket);
}

}  // extern "C"
