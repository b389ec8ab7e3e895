// kvq-sim: kvq in a Linux terminal, on the built-in simulated Q35 board.
#include <cstdio>

#include "app/main_loop.h"
#include "platform/console.h"
#include "platform/host/ansi_console.h"
#include "platform/host/raw_terminal.h"
#include "platform/sim/board.h"
#include "platform/sim/q35.h"

int main() {
  kvq::sim::Board board;
  kvq::sim::build_q35(board);
  board.logging = false;  // a long session would fill memory with the log
  kvq::sim::set_board(&board);
  kvq::host::RawTerminal::set_restore_text("\x1b[?25h\x1b[0m");
  kvq::host::RawTerminal raw(0);
  kvq::con::init(kvq::host::ansi_console_device(), 0x07);
  const int status = kvq::kvq_main();
  std::fputs("\x1b[0m", stdout);
  return status;
}
