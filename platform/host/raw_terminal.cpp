#include "platform/host/raw_terminal.h"

#include <signal.h>
#include <string.h>
#include <unistd.h>

namespace kvq::host {

namespace {

// Process-wide, so the signal handler can reach them.
int g_fd = -1;
struct termios g_saved;
volatile sig_atomic_t g_raw = 0;
const char* g_restore_text = nullptr;
void (*g_hook)(int) = nullptr;

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_old_actions[3];

// Only async-signal-safe calls: also runs inside the signal handler.
void restore_now() {
  if (!g_raw) return;
  g_raw = 0;
  if (g_restore_text != nullptr) {
    const char* p = g_restore_text;
    size_t left = strlen(p);
    while (left > 0) {
      const ssize_t n = write(g_fd, p, left);
      if (n <= 0) break;
      p += n;
      left -= static_cast<size_t>(n);
    }
  }
  tcsetattr(g_fd, TCSADRAIN, &g_saved);
}

void on_signal(int sig) {
  restore_now();
  if (g_hook != nullptr) g_hook(sig);
  // End the process the way the signal would have, so the parent (a shell)
  // sees the real cause.
  signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

RawTerminal::RawTerminal(int fd) {
  if (g_raw || !isatty(fd) || tcgetattr(fd, &g_saved) != 0) return;
  struct termios raw = g_saved;
  cfmakeraw(&raw);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  g_fd = fd;
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &sa, &g_old_actions[i]);
  if (tcsetattr(fd, TCSADRAIN, &raw) != 0) {
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &g_old_actions[i], nullptr);
    return;
  }
  g_raw = 1;
  active_ = true;
}

RawTerminal::~RawTerminal() { restore(); }

void RawTerminal::restore() {
  if (!active_) return;
  active_ = false;
  restore_now();
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &g_old_actions[i], nullptr);
}

void RawTerminal::set_restore_text(const char* text) { g_restore_text = text; }

void RawTerminal::set_signal_hook(void (*hook)(int sig)) { g_hook = hook; }

}  // namespace kvq::host
