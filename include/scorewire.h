/* scorewire: drive a running engine over TCP. A score command travels as one
 * fixed-size record (sockdata, 8296 bytes, native byte order) on a connection
 * to port 1102 + the engine's socket number. Plain C names, so that client
 * programs in any language can bind them. */
#pragma once

#include <signal.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SCOREWIRE_NAME_BYTES 100
#define SCOREWIRE_MAX_NUMBERS 1024
#define SCOREWIRE_MAX_TEXTS 16
#define SCOREWIRE_TEXT_BYTES 512
#define SCOREWIRE_RECORD_BYTES 8296
#define SCOREWIRE_BASE_PORT 1102
/* Entries of the argument vector that parse() fills, its closing null included. */
#define SCOREWIRE_MAX_ARGS 16

#pragma pack(push, 4)
struct sockdata {
  char name[SCOREWIRE_NAME_BYTES];
  union {
    double p[SCOREWIRE_MAX_NUMBERS];
    char text[SCOREWIRE_MAX_TEXTS][SCOREWIRE_TEXT_BYTES];
  } data;
  int n_args;
};
#pragma pack(pop)
typedef struct sockdata RTsockstr;

/* Connects to port 1102 + rtsno of ihost; ends the program on failure. */
int RTsock(char* ihost, int rtsno);
/* The same, but reports a failure and returns a negative value. */
int newRTsock(char* ihost, int rtsno);

/* New heap records (free them with free()); null when memory is short. */
RTsockstr* RTnewsockstr(char* name);
RTsockstr* newRTsockstr(char* name, int n_args);
void RTsetsockdata(RTsockstr* ssend, int arg, double val);
void RTsetsocktext(RTsockstr* ssend, int arg, char* text);
void RTsetsockstr(RTsockstr* ssend, char* cmd, int nargs, double* fields);
void RTprintsockstr(RTsockstr* ssend);

/* Whether a command travels as texts (rtinput, rtoutput, set_option,
 * bus_config, load) rather than as numbers: the one table that clients and
 * the engine's server share. */
static inline int scorewire_takes_texts(const char* name) {
  static const char* const texts[] = {"rtinput", "rtoutput", "set_option", "bus_config", "load"};
  for (size_t i = 0; i < sizeof texts / sizeof texts[0]; ++i)
    if (strcmp(name, texts[i]) == 0) return 1;
  return 0;
}

/* Sends one command: texts for rtinput, rtoutput, set_option, bus_config
 * and load; doubles for every other name. */
void RTsendsock(const char* cmd, int theSock, int nargs, ...);
void RTsendsockstr(int theSock, RTsockstr* sockstr);

/* Calls func every interval seconds (SIGALRM), first after one interval. */
void RTtimeit(float interval, sighandler_t func);

/* Starts the engine for socket number `socket` (0 to 9): directly (returns
 * its process id) or through the shell in the background (returns the
 * shell's status). -1 when the command line cannot be formed. */
int RTopensocket(int socket, char* binaryname);
int RTopensocket_syscall(int socket, char* binaryname);
/* Stops the engine process pid and closes the connection. */
void RTkillsocket(int socket, int pid);

/* Splits buf in place at spaces and tabs into args, which must hold
 * SCOREWIRE_MAX_ARGS entries; a null follows the last argument. */
void parse(char* buf, char** args);
/* Runs args[0] (searched on the path) in a child; returns its process id. */
int execute(char** args);

#ifdef __cplusplus
}
#endif
