// The engine's application objects. Vemora holds what the process was started
// with; VemoraMain is the command-line program: it reads one score, renders it
// to a sound file and reports on it.
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
//        [--plugin-path DIR]... score.lua
//
// Exit status: 0 when every note played and the file was written; 2 when the
// file was written but some notes were refused; 1 when nothing was written;
// 128 + the signal's number when SIGINT or SIGTERM stopped the render (the
// file's temporary removed, nothing written).
// run() returns normally only for status 0 and ends the process with
// std::exit otherwise, after everything it made has been released.
class VemoraMain : public Vemora {
 public:
  VemoraMain(int argc, char** argv, char** env);
  void run() override;
};
