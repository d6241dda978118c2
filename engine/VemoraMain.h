// The engine's application objects. Vemora holds what the process was started
// with; VemoraMain is the command-line program: it reads one score, renders it
// to a sound file and reports on it, or (with -i) serves score records over
// TCP. One CLI11 definition reads the command line of both modes.
#pragma once

class Vemora {
 public:
  Vemora(int argc, char** argv, char** env);
  virtual ~Vemora();
  Vemora(const Vemora&) = delete;
  Vemora& operator=(const Vemora&) = delete;

  // Returns when the engine has finished.
  virtual void run() = 0;

 protected:
  int argc;
  char** argv;
  char** env;
};

// vemora [--output FILE] [--sample-format 16|24|float] [--quiet]
//        [--plugin-path DIR]... [--max-score-steps N] [--max-memory SIZE] score.lua
// vemora -i -n -s N [--output FILE] [--root DIR] [--max-session-seconds S]
//        [--max-rate HZ] [--max-channels N] [--max-memory SIZE] [--plugin-path DIR]...
//
// Exit status: 0 when every note played and the file was written; 2 when the
// file was written but some notes were refused; 1 when nothing was written;
// 128 + the signal's number when SIGINT or SIGTERM stopped the render (the
// file's temporary removed, nothing written). Socket mode ends with 0 when a
// stop or the session's length ended the session, with 1 when the command
// line was refused or the file could not be written.
// run() returns normally only for status 0 and ends the process with
// std::exit otherwise, after everything it made has been released.
class VemoraMain : public Vemora {
 public:
  VemoraMain(int argc, char** argv, char** env);
  void run() override;
};
