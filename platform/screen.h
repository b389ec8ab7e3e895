// In-memory model of the text console. Pages draw into it through the
// console calls; the flusher then sends only what changed to the real
// console. Tests read the model.
#pragma once
#include <stdint.h>

namespace kvq {

struct Cell {
  char16_t ch;
  uint8_t attr;
};

// Attribute bytes: foreground in bits 3:0, background in bits 6:4.
inline constexpr uint8_t attr_background(uint8_t attr) { return static_cast<uint8_t>((attr >> 4) & 7); }

// What the console can show for a character: control characters (C0, DEL
// and C1) would be taken as commands by a terminal, so they are shown as '?'
// (as the firmware's terminal shows glyphs it lacks).
inline constexpr char16_t printable(char16_t ch) { return (ch < 0x20 || (ch >= 0x7F && ch < 0xA0)) ? u'?' : ch; }

class Screen {
 public:
  static constexpr int kMaxCols = 160;
  static constexpr int kMaxRows = 64;

  // Sets the geometry (clipped to the buffer) and clears in the current
  // attribute. `mode` is the real console mode this geometry belongs to.
  void reset(int mode, int cols, int rows);
  // Every cell blank in the current attribute, cursor at (0, 0).
  void clear();
  // Positions outside the screen are refused, as ConOut refuses them.
  void set_cursor(int col, int row);
  void set_attr(uint8_t attr) { attr_ = attr; }
  void enable_cursor(bool on) { cursor_visible_ = on; }
  // One character at the cursor. CR returns to column 0, LF goes down a row;
  // a character in the last column wraps to the next row. Nothing scrolls:
  // past the last row output is dropped until the cursor is placed again.
  void put(char16_t ch);

  int mode() const { return mode_; }
  int cols() const { return cols_; }
  int rows() const { return rows_; }
  int col() const { return col_; }
  int row() const { return row_; }
  uint8_t attr() const { return attr_; }
  bool cursor_visible() const { return cursor_visible_; }
  const Cell& at(int col, int row) const { return cells_[row][col]; }
  // Counters the flusher compares to replay mode changes and clears.
  uint32_t mode_generation() const { return mode_generation_; }
  uint32_t clear_generation() const { return clear_generation_; }
  uint8_t clear_attr() const { return clear_attr_; }
  // Drawing that fell outside the screen: cursor positions refused and
  // characters dropped past the last row. A page that draws only on the
  // screen leaves it at 0.
  uint32_t off_screen() const { return off_screen_; }

 private:
  // All zero until the first reset: a zero-initialised model stays out of
  // the image file (it is most of the program's data).
  Cell cells_[kMaxRows][kMaxCols] = {};
  int mode_ = 0;
  int cols_ = 0;
  int rows_ = 0;
  int col_ = 0;
  int row_ = 0;
  uint8_t attr_ = 0;
  uint8_t clear_attr_ = 0;
  bool cursor_visible_ = false;
  uint32_t mode_generation_ = 0;
  uint32_t clear_generation_ = 0;
  uint32_t off_screen_ = 0;
};

}  // namespace kvq
