// Raw mode for the user's terminal, for as long as an object lives.
//
// In raw mode every key reaches the program as the bytes the terminal sends:
// no line editing, no echo, no CR/LF translation, and Ctrl-C, Ctrl-Z, Ctrl-S
// and Ctrl-Q are plain bytes (a guest or QEMU's Ctrl-A escape gets them).
// Output is not post-processed either: "\n" only moves down a line.
//
// The saved settings are restored by the destructor, and also when the
// process is ended by SIGINT, SIGTERM or SIGHUP (the handler restores, calls
// the optional hook, then lets the signal end the process as it would have).
#pragma once
#include <termios.h>

namespace kvq::host {

class RawTerminal {
 public:
  // Switches `fd` to raw mode if it is a terminal; otherwise does nothing.
  // Only one RawTerminal may be active at a time.
  explicit RawTerminal(int fd);
  ~RawTerminal();
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;

  // True when the terminal was switched (fd is a tty and tcsetattr worked).
  bool active() const { return active_; }

  // Restores the saved settings now (idempotent).
  void restore();

  // Text written to the terminal on restore, before the settings are put
  // back, e.g. "\x1b[?25h\x1b[0m" to show the cursor and reset colours. Kept
  // by pointer: pass a string literal.
  static void set_restore_text(const char* text);

  // Called from the signal handler after the terminal is restored and before
  // the signal is re-raised; it must be async-signal-safe (e.g. kill()).
  static void set_signal_hook(void (*hook)(int sig));

 private:
  bool active_ = false;
};

}  // namespace kvq::host
