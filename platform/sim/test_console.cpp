#include "platform/sim/test_console.h"

namespace kvq::sim {
namespace {

TestConsole& tc() { return TestConsole::instance(); }

int mode_count() { return static_cast<int>(tc().modes.size()); }

bool query_mode(int mode, int* cols, int* rows) {
  if (mode < 0 || mode >= mode_count()) return false;
  const auto& m = tc().modes[static_cast<size_t>(mode)];
  if (m.first == 0) return false;
  *cols = m.first;
  *rows = m.second;
  return true;
}

void set_mode(int mode) {
  tc().ops.push_back({ConsoleOp::kSetMode, mode, 0, {}});
  int cols = 80;
  int rows = 25;
  query_mode(mode, &cols, &rows);
  tc().mirror_mode = mode;
  tc().mirror_cols = cols;
  tc().mirror_rows = rows;
  tc().mirror_clear();
}

void clear_screen() {
  tc().ops.push_back({ConsoleOp::kClear, 0, 0, {}});
  tc().mirror_clear();
}

void set_cursor(int col, int row) {
  tc().ops.push_back({ConsoleOp::kCursor, col, row, {}});
  if (col < tc().mirror_cols && row < tc().mirror_rows) {
    tc().cur_col = col;
    tc().cur_row = row;
  }
}

void set_attr(uint8_t attr) {
  tc().ops.push_back({ConsoleOp::kAttr, attr, 0, {}});
  tc().cur_attr = attr;
}

void output(const char16_t* text) {
  tc().ops.push_back({ConsoleOp::kOutput, 0, 0, std::u16string(text)});
  for (const char16_t* p = text; *p != 0; ++p) tc().mirror_put(*p);
}

void enable_cursor(bool on) {
  tc().ops.push_back({ConsoleOp::kEnableCursor, on ? 1 : 0, 0, {}});
  tc().cursor_on = on;
}

bool read_key(Key* key) {
  tc().poll_times.push_back(tc().now_us);
  tc().deliver_due_keys();
  if (tc().keys_.empty()) return false;
  *key = tc().keys_.front();
  tc().keys_.pop_front();
  return true;
}

void wait_key() {
  if (tc().keys_.empty() && !tc().timed_keys_.empty()) {
    tc().now_us = tc().timed_keys_.front().first;
    tc().deliver_due_keys();
  }
  if (tc().keys_.empty()) {
    // A test that blocks with nothing left to type would hang: answer Esc,
    // which ends every modal input, and let the test see `starved`.
    tc().starved = true;
    tc().keys_.push_back(Key{kScanEsc, 0});
  }
}

// The periodic timer ticks at every whole period from install.
void wait_key_or_tick() {
  TestConsole& c = tc();
  if (!c.paced) {  // no timer: the next pass follows this one at once
    c.now_us += 1000;
    c.deliver_due_keys();
    return;
  }
  c.deliver_due_keys();
  if (!c.keys_.empty()) return;
  const uint64_t tick = (c.now_us / con::kPacePeriodUs + 1) * con::kPacePeriodUs;
  if (!c.timed_keys_.empty() && c.timed_keys_.front().first < tick) {
    c.now_us = c.timed_keys_.front().first;
    c.deliver_due_keys();
    return;
  }
  c.now_us = tick;
  // An idle loop with nothing left to type would run forever: after a
  // virtual minute, answer Esc as a starved blocking wait does.
  if (c.keys_.empty() && c.timed_keys_.empty() && ++c.idle_ticks_ >= 1500) {
    c.starved = true;
    c.keys_.push_back(Key{kScanEsc, 0});
  }
}

void current_state(int* mode, bool* cursor_visible) {
  *mode = tc().mirror_mode;
  *cursor_visible = tc().cursor_on;
}

constexpr ConsoleDevice kDevice = {
    mode_count, query_mode, set_mode, clear_screen, set_cursor, set_attr, output,
    enable_cursor, read_key, wait_key, wait_key_or_tick, nullptr, current_state,
};

}  // namespace

TestConsole& TestConsole::instance() {
  static TestConsole console;
  return console;
}

void TestConsole::install(std::vector<std::pair<int, int>> mode_list, uint8_t attr, int mode, bool cursor) {
  modes = std::move(mode_list);
  keys_.clear();
  ops.clear();
  starved = false;
  now_us = 0;
  paced = true;
  poll_times.clear();
  timed_keys_.clear();
  idle_ticks_ = 0;
  mirror_scrolled = false;
  cur_attr = attr;
  cursor_on = cursor;
  shell_mode = mode;
  shell_attr = attr;
  shell_cursor = cursor;
  mirror_mode = mode;
  mirror_cols = 80;
  mirror_rows = 25;
  query_mode(mode, &mirror_cols, &mirror_rows);
  mirror_clear();
  con::init(&kDevice, attr);
}

void TestConsole::push_key_at(uint64_t time_us, Key key) {
  auto at = timed_keys_.begin();
  while (at != timed_keys_.end() && at->first <= time_us) ++at;
  timed_keys_.insert(at, {time_us, key});
}

void TestConsole::deliver_due_keys() {
  while (!timed_keys_.empty() && timed_keys_.front().first <= now_us) {
    keys_.push_back(timed_keys_.front().second);
    timed_keys_.pop_front();
    idle_ticks_ = 0;
  }
}

void TestConsole::mirror_clear() {
  mirror.assign(static_cast<size_t>(mirror_rows), std::vector<Cell>(static_cast<size_t>(mirror_cols), Cell{u' ', cur_attr}));
  cur_col = 0;
  cur_row = 0;
}

void TestConsole::mirror_put(char16_t ch) {
  mirror[static_cast<size_t>(cur_row)][static_cast<size_t>(cur_col)] = Cell{ch, cur_attr};
  if (++cur_col >= mirror_cols) {
    cur_col = 0;
    if (++cur_row >= mirror_rows) {
      // A firmware console scrolls here.
      mirror_scrolled = true;
      mirror.erase(mirror.begin());
      mirror.emplace_back(static_cast<size_t>(mirror_cols), Cell{u' ', cur_attr});
      cur_row = mirror_rows - 1;
    }
  }
}

std::u16string TestConsole::mirror_row(int row) const {
  std::u16string s;
  for (const Cell& c : mirror[static_cast<size_t>(row)]) s.push_back(c.ch);
  return s;
}

uint8_t TestConsole::mirror_attr(int col, int row) const {
  return mirror[static_cast<size_t>(row)][static_cast<size_t>(col)].attr;
}

size_t TestConsole::serial_bytes() const {
  // What the firmware's PC-ANSI terminal sends for each call.
  size_t n = 0;
  for (const ConsoleOp& op : ops) {
    switch (op.kind) {
      case ConsoleOp::kSetMode:
      case ConsoleOp::kClear:
        n += 7;  // ESC [ 2 J and a cursor home
        break;
      case ConsoleOp::kCursor:
        n += 8;  // ESC [ rr ; cc H
        break;
      case ConsoleOp::kAttr:
        n += 15;  // ESC [ 0 m ESC [ 3x m ESC [ 4x m, bold when bright
        break;
      case ConsoleOp::kOutput:
        n += op.text.size();
        break;
      case ConsoleOp::kEnableCursor:
        n += 6;
        break;
    }
  }
  return n;
}

}  // namespace kvq::sim
