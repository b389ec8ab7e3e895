// A console device for host tests: keys come from a script, and every call
// the flusher makes is recorded and replayed on a mirror of a firmware text
// console, so tests can check what reached the "real" console.
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "platform/console.h"

namespace kvq::sim {

struct ConsoleOp {
  enum Kind { kSetMode, kClear, kCursor, kAttr, kOutput, kEnableCursor } kind;
  int a = 0;
  int b = 0;
  std::u16string text;
  bool operator==(const ConsoleOp&) const = default;
};

class TestConsole {
 public:
  static TestConsole& instance();

  // Resets everything and makes this the console kvq draws on. `modes` are
  // the firmware's text modes (columns, rows); an empty pair is a mode the
  // firmware lists but does not support. `attr`, `mode` and `cursor` are
  // what the Shell left: kvq gives them back at exit.
  void install(std::vector<std::pair<int, int>> modes = {{80, 25}, {0, 0}, {100, 31}}, uint8_t attr = 0x07, int mode = 0,
               bool cursor = true);
  int shell_mode = 0;
  uint8_t shell_attr = 0x07;
  bool shell_cursor = true;

  void push_key(Key key) { keys_.push_back(key); }
  void push_scan(uint16_t scan) { push_key(Key{scan, 0}); }
  void push_char(char16_t ch) { push_key(Key{0, static_cast<uint16_t>(ch)}); }
  void push_text(const std::u16string& text) {
    for (char16_t c : text) push_char(c);
  }
  size_t pending_keys() const { return keys_.size(); }
  // Set when a blocking wait found the script empty (it then answers Esc).
  bool starved = false;

  // Virtual time, in microseconds from install. Only waits advance it: a
  // pacing wait to the next tick of the period or to the next timed key,
  // a blocking wait to the next timed key. A key pushed with push_key_at
  // becomes readable at its time.
  uint64_t now_us = 0;
  void push_key_at(uint64_t time_us, Key key);
  // False: the console has no pacing timer and the loop runs unpaced, as
  // if each pass took a millisecond.
  bool paced = true;
  // The virtual time of every key poll (a main loop pass polls once).
  std::vector<uint64_t> poll_times;

  std::vector<ConsoleOp> ops;
  void clear_ops() { ops.clear(); }
  // Bytes these calls would cost on the firmware's serial terminal.
  size_t serial_bytes() const;

  // The mirror: what a firmware console shows after the recorded calls.
  int mirror_mode = 0;
  int mirror_cols = 80;
  int mirror_rows = 25;
  bool mirror_scrolled = false;
  std::u16string mirror_row(int row) const;
  uint8_t mirror_attr(int col, int row) const;

  // Device callbacks.
  std::vector<std::pair<int, int>> modes;
  std::deque<Key> keys_;
  std::deque<std::pair<uint64_t, Key>> timed_keys_;  // by time
  int idle_ticks_ = 0;  // pacing ticks in a row with no key in sight
  void deliver_due_keys();
  int cur_col = 0;
  int cur_row = 0;
  uint8_t cur_attr = 0x07;
  bool cursor_on = true;
  std::vector<std::vector<Cell>> mirror;
  void mirror_clear();
  void mirror_put(char16_t ch);
};

}  // namespace kvq::sim
