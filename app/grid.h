// The register window grid, the bit ruler and the data width label, shared
// by every grid page.
#pragma once
#include <stdint.h>

#include "app/state.h"
#include "hw/window.h"

namespace kvq {

// Geometry of one data width mode.
struct WidthGeometry {
  int cells;      // cells per grid row
  int pitch;      // screen columns per cell (digits and one blank)
  int digits;     // hex digits per cell
  int last_col;   // screen column of the last cell of a row
  const char16_t* header;
  const char16_t* cell_format;
};

const WidthGeometry& geometry(int width);

inline int cursor_offset(const CellCursor& c, int width) {
  return 16 * (c.row - 2) + cell_bytes(width) * c.index;
}
inline uint32_t cursor_value(const RegisterWindow& w, const CellCursor& c, int width) {
  return w.value(cursor_offset(c, width), cell_bytes(width));
}

// Column header, row labels and every cell, the cursor's digits in white on
// blue; zero values light gray, others white.
void draw_grid(const RegisterWindow& window, int width, const CellCursor& cursor);
// The cursor cell's window offset at (0, 1) in light green, then white.
void draw_cursor_offset(const CellCursor& cursor, int width);
// The value spelled out bit by bit on rows 19 to 22, bit 0 in column 36.
void draw_ruler(uint32_t value, int width);
// "Data Width : 8 bits" at (51, 1) in the current attribute.
void draw_width_label(int width);

}  // namespace kvq

namespace kvq {

// Byte mode's character column at columns 51 to 66 of the grid rows: "0" to
// "z" as themselves, anything else as "."; the cursor's character white on
// green.
void draw_char_column(const RegisterWindow& window, const CellCursor& cursor);

}  // namespace kvq
