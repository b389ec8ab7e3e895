// What the list pages (Variables, Setup) draw their rows with.
#pragma once
#include <stdint.h>

namespace kvq {

// `text` across the standard screen's row `row`, padded with blanks to its
// 80 columns.
void put_row(int row, uint8_t attr, const char16_t* text);

// `text` in `width` columns: control characters as blanks, cut with ">"
// where it is longer.
void fit_text(const char16_t* text, int width, char16_t* out);

}  // namespace kvq
