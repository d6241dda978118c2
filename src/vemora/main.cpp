// The vemora program: clears the engine's print buffer and runs the engine's
// command-line application.
#include <cstring>

#include "Instrument.h"
#include "VemoraMain.h"

int main(int argc, char** argv, char** env) {
  std::memset(MMPrint::mm_print_buf, 0, sizeof MMPrint::mm_print_buf);
  MMPrint::mm_print_ptr = MMPrint::mm_print_buf;

  // Whether the stack unwinds before an uncaught exception ends the program
  // is left to the runtime; the handler makes sure app is destroyed first.
  try {
    VemoraMain app(argc, argv, env);
    app.run();
  } catch (...) {
    throw;
  }
  return 0;
}
