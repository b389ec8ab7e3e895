// The register window grid, the bit ruler and the data width label, shared
// by every grid page, and the one table that lays out each data width.
#pragma once
#include <stdint.h>

#include "app/state.h"
#include "hw/window.h"

namespace kvq {

// Everything that depends on the data width mode: the grid's cells, the
// bit ruler below it and the label beside it.
struct WidthLayout {
  int width;      // the mode: kByte, kWord or kDword
  int bytes;      // per cell
  int cells;      // per grid row
  int pitch;      // screen columns per cell (digits and one blank)
  int digits;     // hex digits per cell
  int last_col;   // screen column of the last cell of a row
  const char16_t* header;
  const char16_t* cell_format;
  // The ruler: its value on row 19 ends in column 36, above bit 0.
  int ruler_bits;
  int ruler_value_col;
  const char16_t* ruler_value_format;
  const char16_t* ruler_ticks;
  const char16_t* ruler_numbers;
  const char16_t* label;  // at (51, 1)
};

const WidthLayout& layout(int width);

inline int cursor_offset(const CellCursor& c, int width) { return 16 * (c.row - 2) + layout(width).bytes * c.index; }
inline uint32_t cursor_value(const RegisterWindow& w, const CellCursor& c, int width) {
  return w.value(cursor_offset(c, width), layout(width).bytes);
}
// Where a label of `length` characters on row 19 starts so that it ends one
// blank before the ruler's value: the pages' "0xNN ->" and address lines.
inline int col_before_ruler(int width, int length) { return layout(width).ruler_value_col - 1 - length; }

// Column header, row labels and every cell, the cursor's digits in white on
// blue; zero values light gray, others white; dashes in light gray for a
// cell that holds a byte that was not read.
void draw_grid(const RegisterWindow& window, int width, const CellCursor& cursor);
// The cursor cell's window offset at (0, 1) in light green, then white.
void draw_cursor_offset(const CellCursor& cursor, int width);
// The value spelled out bit by bit on rows 19 to 22, bit 0 in column 36;
// dashes for a cell that was not read.
void draw_ruler(uint32_t value, int width, bool absent = false);
// The cursor cell's ruler.
inline void draw_cursor_ruler(const RegisterWindow& w, const CellCursor& c, int width) {
  draw_ruler(cursor_value(w, c, width), width, w.any_absent(cursor_offset(c, width), layout(width).bytes));
}
// A 64-bit value (an MSR) the same way, bit 63 in column 2 and bit 0 in
// column 72, its "0x" and 16 digits on row 19 ending above bit 0.
void draw_ruler64(uint64_t value);
inline constexpr int kRuler64ValueCol = 55;
// Where a label of `length` characters on row 19 starts so that it ends one
// blank before that value.
inline constexpr int col_before_ruler64(int length) { return kRuler64ValueCol - 1 - length; }
// "Data Width : 8 bits" at (51, 1) in the current attribute.
void draw_width_label(int width);

// Byte mode's character column at columns 51 to 66 of the grid rows: "0" to
// "z" as themselves, anything else as "."; the cursor's character white on
// green.
void draw_char_column(const RegisterWindow& window, const CellCursor& cursor);

}  // namespace kvq
