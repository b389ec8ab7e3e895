#include "platform/host/ansi_console.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <string>

#include "platform/host/xterm_keys.h"

namespace kvq::host {
namespace {

// UEFI colour numbers to ANSI colour numbers (UEFI 1 blue is ANSI 4, ...).
constexpr int kAnsiColour[8] = {0, 4, 2, 6, 1, 5, 3, 7};

struct Terminal {
  XtermKeyDecoder decoder;
  std::deque<Key> ready;
};

Terminal& term() {
  static Terminal t;
  return t;
}

void send(const std::string& s) {
  const char* p = s.data();
  size_t left = s.size();
  while (left > 0) {
    const ssize_t n = ::write(STDOUT_FILENO, p, left);
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

int mode_count() { return 3; }

bool query_mode(int mode, int* cols, int* rows) {
  // The firmware's serial terminal offers 80x25, 80x50 and 100x31.
  static constexpr int kModes[3][2] = {{80, 25}, {80, 50}, {100, 31}};
  if (mode < 0 || mode >= 3) return false;
  *cols = kModes[mode][0];
  *rows = kModes[mode][1];
  return true;
}

void set_mode(int) { send("\x1b[2J\x1b[H"); }
void clear_screen() { send("\x1b[2J\x1b[H"); }

void set_cursor(int col, int row) { send("\x1b[" + std::to_string(row + 1) + ";" + std::to_string(col + 1) + "H"); }

void set_attr(uint8_t attr) {
  const int fg = attr & 7;
  const bool bright = (attr & 8) != 0;
  const int bg = (attr >> 4) & 7;
  std::string s = "\x1b[0;";
  s += std::to_string((bright ? 90 : 30) + kAnsiColour[fg]);
  s += ";" + std::to_string(40 + kAnsiColour[bg]) + "m";
  send(s);
}

void output(const char16_t* text) {
  std::string s;
  for (const char16_t* p = text; *p != 0; ++p) {
    const char16_t c = *p;
    if (c < 0x80) {
      s.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      s.push_back(static_cast<char>(0xC0 | (c >> 6)));
      s.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      s.push_back(static_cast<char>(0xE0 | (c >> 12)));
      s.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      s.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  send(s);
}

void enable_cursor(bool on) { send(on ? "\x1b[?25h" : "\x1b[?25l"); }

// Reads what stdin has within `timeout_ms` into the decoder; a partial
// escape sequence that sees no further byte becomes the keys it stands for.
void pump(int timeout_ms) {
  pollfd fd{STDIN_FILENO, POLLIN, 0};
  if (::poll(&fd, 1, timeout_ms) > 0) {
    uint8_t buf[64];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) {
      // End of input: behave as if Esc was pressed, so kvq ends.
      term().decoder.feed(0x1B);
      term().decoder.timeout();
      return;
    }
    for (ssize_t i = 0; i < n; ++i) term().decoder.feed(buf[i]);
  } else if (term().decoder.pending()) {
    term().decoder.timeout();
  }
}

void collect() {
  Key k{0, 0};
  while (term().decoder.pop(&k)) term().ready.push_back(k);
}

// A poll: takes what stdin holds now. A partial escape sequence stays
// pending until a wait sees no further byte for it.
bool read_key(Key* key) {
  if (term().ready.empty()) {
    pollfd fd{STDIN_FILENO, POLLIN, 0};
    if (::poll(&fd, 1, 0) > 0) pump(0);
    collect();
  }
  if (term().ready.empty()) return false;
  *key = term().ready.front();
  term().ready.pop_front();
  return true;
}

void wait_key() {
  while (term().ready.empty()) {
    pump(50);
    collect();
  }
}

// The pacing timer: ticks at every whole period from the first wait.
void wait_key_or_tick() {
  using Clock = std::chrono::steady_clock;
  static const Clock::time_point start = Clock::now();
  const Clock::duration period = std::chrono::microseconds(con::kPacePeriodUs);
  const Clock::time_point tick = start + ((Clock::now() - start) / period + 1) * period;
  // A lone ESC byte is taken as Esc only after this much silence.
  constexpr int kEscapeMs = 10;
  while (term().ready.empty()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(tick - Clock::now()).count();
    if (left <= 0) return;
    pump(term().decoder.pending() ? std::max<int>(static_cast<int>(left), kEscapeMs) : static_cast<int>(left));
    collect();
  }
}

constexpr ConsoleDevice kDevice = {
    mode_count, query_mode, set_mode, clear_screen, set_cursor, set_attr, output,
    enable_cursor, read_key, wait_key, wait_key_or_tick, nullptr, nullptr,
};

}  // namespace

const ConsoleDevice* ansi_console_device() { return &kDevice; }

}  // namespace kvq::host
