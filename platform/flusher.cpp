#include "platform/flusher.h"

#include "platform/console.h"

namespace kvq {
namespace {

// Unchanged cells shorter than this between two changed ones are sent again
// rather than moving the cursor: a cursor move costs about eight bytes on a
// serial terminal.
constexpr int kMaxBridgedGap = 6;

}  // namespace

void Flusher::invalidate() {
  valid_ = false;
  attr_ = -1;
  col_ = -1;
  row_ = -1;
  cursor_visible_ = -1;
}

void Flusher::set_attr(const ConsoleDevice& device, uint8_t attr) {
  if (attr_ == attr) return;
  device.set_attr(attr);
  attr_ = attr;
}

void Flusher::move_to(const ConsoleDevice& device, int col, int row) {
  if (col_ == col && row_ == row) return;
  device.set_cursor(col, row);
  col_ = col;
  row_ = row;
}

void Flusher::replay_mode_and_clear(const Screen& screen, const ConsoleDevice& device) {
  if (!valid_ || mode_generation_ != screen.mode_generation()) {
    device.set_mode(screen.mode());
    attr_ = -1;
  }
  set_attr(device, screen.clear_attr());
  device.clear_screen();
  for (int r = 0; r < Screen::kMaxRows; ++r) {
    for (int c = 0; c < Screen::kMaxCols; ++c) shadow_[r][c] = Cell{u' ', screen.clear_attr()};
  }
  col_ = 0;
  row_ = 0;
  mode_generation_ = screen.mode_generation();
  clear_generation_ = screen.clear_generation();
  valid_ = true;
}

void Flusher::send_row(const Screen& screen, const ConsoleDevice& device, int row, int width) {
  char16_t text[Screen::kMaxCols + 1];
  int len = 0;
  auto send_text = [&] {
    if (len == 0) return;
    text[len] = 0;
    device.output(text);
    col_ += len;
    len = 0;
  };
  int c = 0;
  while (c < width) {
    if (looks_same(screen.at(c, row), shadow_[row][c])) {
      ++c;
      continue;
    }
    // A run of changed cells starts at c.
    move_to(device, c, row);
    while (c < width) {
      const Cell& cell = screen.at(c, row);
      if (looks_same(cell, shadow_[row][c])) {
        // Bridge a short gap if the next change follows closely and the gap
        // needs no attribute change.
        int next = c;
        while (next < width && next - c <= kMaxBridgedGap && looks_same(screen.at(next, row), shadow_[row][next]) &&
               screen.at(next, row).attr == attr_) {
          ++next;
        }
        if (next >= width || next - c > kMaxBridgedGap || looks_same(screen.at(next, row), shadow_[row][next])) break;
      }
      if (cell.attr != attr_) {
        send_text();
        set_attr(device, cell.attr);
      }
      text[len++] = printable(cell.ch);
      shadow_[row][c] = cell;
      ++c;
    }
    send_text();
  }
  if (col_ >= real_cols_) {
    // The firmware's terminal and the remote terminal disagree about where a
    // cursor stands after the last column; place it again before the next text.
    col_ = -1;
    row_ = -1;
  }
}

void Flusher::flush(const Screen& screen, const ConsoleDevice& device, int real_cols, int real_rows) {
  real_cols_ = real_cols;
  if (!valid_ || mode_generation_ != screen.mode_generation() || clear_generation_ != screen.clear_generation()) {
    replay_mode_and_clear(screen, device);
  }
  const int cols = screen.cols() < real_cols ? screen.cols() : real_cols;
  const int rows = screen.rows() < real_rows ? screen.rows() : real_rows;
  for (int r = 0; r < rows; ++r) {
    // The bottom-right cell of the real console is never written: writing it
    // moves the console's cursor past the end and scrolls the screen.
    const int width = (r == real_rows - 1 && cols == real_cols) ? cols - 1 : cols;
    send_row(screen, device, r, width);
  }
  const int visible = screen.cursor_visible() ? 1 : 0;
  if (visible && (screen.col() != col_ || screen.row() != row_) && screen.row() < rows && screen.col() < cols) {
    move_to(device, screen.col(), screen.row());
  }
  if (visible != cursor_visible_) {
    device.enable_cursor(visible != 0);
    cursor_visible_ = visible;
  }
}

}  // namespace kvq
