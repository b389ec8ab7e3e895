#include "platform/screen.h"

namespace kvq {

void Screen::reset(int mode, int cols, int rows) {
  mode_ = mode;
  cols_ = cols < 1 ? 1 : (cols > kMaxCols ? kMaxCols : cols);
  rows_ = rows < 1 ? 1 : (rows > kMaxRows ? kMaxRows : rows);
  ++mode_generation_;
  clear();
}

void Screen::clear() {
  for (int r = 0; r < rows_; ++r) {
    for (int c = 0; c < cols_; ++c) cells_[r][c] = Cell{u' ', attr_};
  }
  col_ = 0;
  row_ = 0;
  clear_attr_ = attr_;
  ++clear_generation_;
}

void Screen::set_cursor(int col, int row) {
  if (col < 0 || row < 0 || col >= cols_ || row >= rows_) {
    ++off_screen_;
    return;
  }
  col_ = col;
  row_ = row;
}

void Screen::put(char16_t ch) {
  if (ch == u'\r') {
    col_ = 0;
    return;
  }
  if (ch == u'\n') {
    if (row_ < rows_) ++row_;
    return;
  }
  if (row_ >= rows_) {
    ++off_screen_;
    return;
  }
  cells_[row_][col_] = Cell{ch, attr_};
  if (++col_ >= cols_) {
    col_ = 0;
    ++row_;
  }
}

}  // namespace kvq
