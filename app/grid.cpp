#include "app/grid.h"

#include "app/colors.h"
#include "platform/console.h"
#include "platform/text16.h"

namespace kvq {
namespace {

constexpr WidthLayout kLayouts[kWidthCount] = {
    {.width = kByte, .bytes = 1, .cells = 16, .pitch = 3, .digits = 2, .last_col = 48,
     .header = u"00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F", .cell_format = u"%02X",
     .ruler_bits = 8, .ruler_value_col = 33, .ruler_value_format = u"0x%02X",
     .ruler_ticks = u"                            |  |   |",
     .ruler_numbers = u"                            7  4   0",
     .label = u"Data Width : 8 bits"},
    // Word and dword headers name the bytes of each cell, most significant
    // first, as the cells are little-endian.
    {.width = kWord, .bytes = 2, .cells = 8, .pitch = 5, .digits = 4, .last_col = 38,
     .header = u"0100 0302 0504 0706 0908 0B0A 0D0C 0F0E", .cell_format = u"%04X",
     .ruler_bits = 16, .ruler_value_col = 31, .ruler_value_format = u"0x%04X",
     .ruler_ticks = u"                   |  |   |    |   |",
     .ruler_numbers = u"                  15 12   8    4   0",
     .label = u"Data Width : 16 bits"},
    {.width = kDword, .bytes = 4, .cells = 4, .pitch = 9, .digits = 8, .last_col = 30,
     .header = u"03020100 07060504 0B0A0908 0F0E0D0C ", .cell_format = u"%08X",
     .ruler_bits = 32, .ruler_value_col = 27, .ruler_value_format = u"0x%08X",
     .ruler_ticks = u" |  |   |    |   |    |   |    |   |",
     .ruler_numbers = u"31 28  24   20  16   12   8    4   0",
     .label = u"Data Width : 32 bits"},
};

constexpr int kBit0Col = 36;

// Rows 19 to 22 for one value: its hexadecimal value, its bits in groups of
// eight with bit 0 in `bit0_col`, the tick line and the bit-number line.
struct Ruler {
  int bits;
  int bit0_col;
  int value_col;
  const char16_t* value_format;
  const char16_t* ticks;    // from column 1
  const char16_t* numbers;  // from column 1
};

constexpr int bit_col(const Ruler& r, int b) { return r.bit0_col - b - b / 8; }

constexpr Ruler kQwordRuler = {
    .bits = 64,
    .bit0_col = 72,
    .value_col = kRuler64ValueCol,
    .value_format = u"0x%016X",
    .ticks = u" |  |   |    |   |    |   |    |   |    |   |    |   |    |   |    |   |",
    .numbers = u"63 60  56   52  48   44  40   36  32   28  24   20  16   12   8    4   0",
};

// The value ends above bit 0, bit 63 stands in column 2, and every tick
// stands under a bit whose number ends in the tick's column.
constexpr bool ruler_sound(const Ruler& r) {
  if (r.value_col + 2 + r.bits / 4 - 1 != r.bit0_col || bit_col(r, r.bits - 1) != 2) return false;
  if (text_length(r.ticks) != text_length(r.numbers) || 1 + text_length(r.ticks) - 1 != r.bit0_col) return false;
  for (int i = 0; r.ticks[i] != 0; ++i) {
    if (r.ticks[i] != u'|') continue;
    bool under_bit = false;
    for (int b = 0; b < r.bits; ++b) under_bit = under_bit || bit_col(r, b) == 1 + i;
    if (!under_bit || r.numbers[i] < u'0' || r.numbers[i] > u'9') return false;
  }
  return true;
}
static_assert(ruler_sound(kQwordRuler));

// A value that was not read (its page is not mapped) shows dashes, digits
// and bits alike.
void draw_bits(uint64_t value, const Ruler& r, bool absent = false) {
  con::set_attr(kAttrWhite);
  con::set_cursor(r.value_col, 19);
  if (absent) {
    con::put_text(u"0x");
    con::repeat(u'-', r.bits / 4);
  } else {
    con::print(r.value_format, value);
  }
  const int top = r.bits - 1;
  con::set_cursor(bit_col(r, top), 20);
  for (int b = top; b >= 0; --b) {
    const bool one = ((value >> b) & 1) != 0;
    con::set_attr(one && !absent ? kAttrYellow : kAttrWhite);
    if (absent) {
      con::put_char(u'-');
    } else {
      con::print(u"%d", one ? 1 : 0);
    }
    if (b != 0 && b % 8 == 0) {
      con::set_attr(kAttrWhite);
      con::put_char(u' ');
    }
  }
  con::set_attr(kAttrWhite);
  con::set_cursor(1, 21);
  con::put_text(r.ticks);
  con::set_cursor(1, 22);
  con::put_text(r.numbers);
}

// Every mode has its row at index mode - 1, and each row agrees with
// itself: the cells fill the 16 bytes of a grid row, the last cell stands
// where the pitch puts it, and the ruler's value ("0x" and the digits) ends
// above bit 0.
constexpr bool layouts_sound() {
  for (int i = 0; i < kWidthCount; ++i) {
    const WidthLayout& l = kLayouts[i];
    if (l.width != i + 1 || l.bytes * l.cells != 16 || l.digits != 2 * l.bytes || l.ruler_bits != 8 * l.bytes) return false;
    if (l.last_col != 3 + l.pitch * (l.cells - 1) || l.pitch != l.digits + 1) return false;
    if (l.ruler_value_col + 2 + l.digits - 1 != kBit0Col) return false;
  }
  return true;
}
static_assert(layouts_sound());

}  // namespace

const WidthLayout& layout(int width) { return kLayouts[(width >= kByte && width <= kDword ? width : kByte) - 1]; }
void draw_grid(const RegisterWindow& window, int width, const CellCursor& cursor) {
  const WidthLayout& g = layout(width);
  const int size = g.bytes;
  con::set_attr(kAttrYellow);
  con::set_cursor(3, 1);
  con::put_text(g.header);
  for (int r = 0; r < 16; ++r) {
    con::set_cursor(0, 2 + r);
    con::print(u"%02X", r * 16);
  }
  con::set_attr(kAttrWhite);
  for (int r = 0; r < 16; ++r) {
    for (int i = 0; i < g.cells; ++i) {
      const int offset = 16 * r + size * i;
      const uint32_t v = window.value(offset, size);
      const bool absent = window.any_absent(offset, size);
      const bool is_cursor = cursor.row == 2 + r && cursor.index == i;
      con::set_cursor(3 + g.pitch * i, 2 + r);
      con::set_attr(is_cursor ? kAttrWhiteOnBlue : (v != 0 && !absent ? kAttrWhite : kAttrGray));
      // A cell whose bytes were not read shows dashes, never a value.
      if (absent) {
        con::repeat(u'-', g.digits);
      } else {
        con::print(g.cell_format, v);
      }
      // Only the cursor's digits are highlighted.
      if (is_cursor) con::set_attr(kAttrWhite);
      con::put_char(u' ');
    }
  }
  con::set_attr(kAttrWhite);
}

void draw_cursor_offset(const CellCursor& cursor, int width) {
  con::set_cursor(0, 1);
  con::set_attr(kAttrLightGreen);
  con::print(u"%02X", cursor_offset(cursor, width));
  con::set_attr(kAttrWhite);
}

void draw_ruler(uint32_t value, int width, bool absent) {
  const WidthLayout& l = layout(width);
  draw_bits(value,
            Ruler{.bits = l.ruler_bits,
                  .bit0_col = kBit0Col,
                  .value_col = l.ruler_value_col,
                  .value_format = l.ruler_value_format,
                  .ticks = l.ruler_ticks,
                  .numbers = l.ruler_numbers},
            absent);
}

void draw_ruler64(uint64_t value) { draw_bits(value, kQwordRuler); }

void draw_width_label(int width) {
  if (width < kByte || width > kDword) return;
  con::set_cursor(51, 1);
  con::put_text(layout(width).label);
}

}  // namespace kvq

namespace kvq {

void draw_char_column(const RegisterWindow& window, const CellCursor& cursor) {
  for (int r = 0; r < 16; ++r) {
    con::set_cursor(51, 2 + r);
    for (int c = 0; c < 16; ++c) {
      const uint8_t b = window.bytes[16 * r + c];
      const bool is_cursor = cursor.row == 2 + r && cursor.index == c;
      con::set_attr(is_cursor ? kAttrWhiteOnGreen : kAttrWhite);
      if (window.absent[16 * r + c]) {
        con::put_char(u' ');
      } else {
        con::print(u"%c", (b >= 0x30 && b <= 0x7A) ? static_cast<char16_t>(b) : u'.');
      }
    }
  }
  con::set_attr(kAttrWhite);
}

}  // namespace kvq
