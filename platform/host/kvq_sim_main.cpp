// kvq-sim: kvq in a Linux terminal, on the built-in simulated Q35 board.
#include <cstdio>
#include <cstring>

#include "app/main_loop.h"
#include "platform/console.h"
#include "platform/host/ansi_console.h"
#include "platform/host/raw_terminal.h"
#include "platform/sim/board.h"
#include "platform/sim/q35.h"
#include "platform/sim/superio_chips.h"

int main(int argc, char** argv) {
  kvq::sim::Board board;
  kvq::sim::build_q35(board);
  // --superio MODEL[@PORT]: a Super I/O chip or embedded controller at 2Eh
  // (or 4Eh, 6Eh), as many as given.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--superio") == 0 && i + 1 < argc && kvq::sim::add_superio(board, argv[++i])) continue;
    std::fprintf(stderr, "usage: kvq-sim [--superio MODEL[@2e|@4e|@6e]]...\nmodels: %s\n",
                 kvq::sim::sio_model_names().c_str());
    return 2;
  }
  board.logging = false;  // a long session would fill memory with the log
  kvq::sim::set_board(&board);
  kvq::host::RawTerminal::set_restore_text("\x1b[?25h\x1b[0m");
  kvq::host::RawTerminal raw(0);
  kvq::con::init(kvq::host::ansi_console_device(), 0x07);
  const int status = kvq::kvq_main();
  std::fputs("\x1b[0m", stdout);
  return status;
}
