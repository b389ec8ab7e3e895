#include "app/input.h"

#include "app/colors.h"
#include "app/grid.h"
#include "platform/console.h"
#include "platform/text16.h"

namespace kvq {

namespace {

int hex_value(uint16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

}  // namespace

int read_hex_key() {
  for (;;) {
    const Key key = con::wait_key();
    if (key.scan == kScanEsc) return kHexEsc;
    if (key.scan != 0) continue;
    if (key.ch == kCharBackspace) return kHexBackspace;
    const int d = hex_value(key.ch);
    if (d >= 0) return d;
  }
}

bool move_cursor(CellCursor& cursor, int width, uint16_t scan, bool wrap) {
  const WidthLayout& g = layout(width);
  switch (scan) {
    case kScanUp:
      cursor.row = cursor.row == 2 ? (wrap ? 17 : 2) : cursor.row - 1;
      return true;
    case kScanDown:
      cursor.row = cursor.row == 17 ? (wrap ? 2 : 17) : cursor.row + 1;
      return true;
    case kScanRight:
      cursor.index = cursor.index >= g.cells - 1 ? (wrap ? 0 : g.cells - 1) : cursor.index + 1;
      break;
    case kScanLeft:
      cursor.index = cursor.index <= 0 ? (wrap ? g.cells - 1 : 0) : cursor.index - 1;
      break;
    default:
      return false;
  }
  cursor.col = 3 + g.pitch * cursor.index;
  return true;
}

namespace {

// Reads `digits` hex digits, each echoed in light green from (col, row)
// onwards, first digit most significant. Backspace erases and retakes the
// previous digit when `backspace_steps_back`, and is ignored otherwise, so the
// digits on the screen are always the digits taken. False on Esc.
constexpr int kMaxDigits = 16;

bool read_hex_field(int col, int row, int digits, bool backspace_steps_back, uint64_t* value) {
  if (digits < 1 || digits > kMaxDigits) return false;
  con::set_cursor(col, row);
  con::set_attr(kAttrLightGreen);
  uint32_t typed[kMaxDigits] = {};
  int k = 0;  // digits taken so far
  while (k < digits) {
    const int key = read_hex_key();
    if (key == kHexEsc) return false;
    if (key == kHexBackspace) {
      if (!backspace_steps_back || k == 0) continue;
      --k;
      con::set_cursor(col + k, row);
      con::put_char(u' ');
      con::set_cursor(col + k, row);
      continue;
    }
    con::print(u"%X", key);
    typed[k++] = static_cast<uint32_t>(key);
  }
  uint64_t v = 0;
  for (int i = 0; i < digits; ++i) v = (v << 4) | typed[i];
  *value = v;
  return true;
}

// Up to eight digits: a 32-bit value.
bool read_hex_field(int col, int row, int digits, bool backspace_steps_back, uint32_t* value) {
  uint64_t v = 0;
  if (digits > 8 || !read_hex_field(col, row, digits, backspace_steps_back, &v)) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

}  // namespace

bool value_entry(const CellCursor& cursor, int digits, uint64_t* value) {
  con::set_cursor(cursor.col, cursor.row);
  con::set_attr(kAttrBlack);
  con::repeat(u' ', digits);
  return read_hex_field(cursor.col, cursor.row, digits, true, value);
}

bool value_entry(const CellCursor& cursor, int digits, uint32_t* value) {
  uint64_t v = 0;
  if (digits > 8 || !value_entry(cursor, digits, &v)) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

bool device_selector(pci::Bdf* device) {
  // Digit k (0..5) stands at this column of row 0.
  static constexpr int kColumns[6] = {4, 5, 11, 12, 18, 19};
  con::set_cursor(0, 0);
  con::set_attr(kAttrLightGreen);
  con::put_text(u"Bus:   Dev:   Fun:   ");
  int typed[6] = {};
  int k = 0;
  while (k < 6) {
    con::set_cursor(kColumns[k], 0);
    con::set_attr(kAttrLightGreen);
    const int key = read_hex_key();
    if (key == kHexEsc) return false;
    if (key == kHexBackspace) {
      // Bus and device digits cannot be taken back; from the function
      // digits Backspace steps back one digit, erasing it.
      if (k >= 4) {
        --k;
        con::set_cursor(kColumns[k], 0);
        con::put_char(u' ');
      }
      continue;
    }
    con::print(u"%X", key);
    typed[k++] = key;
  }
  // Decimal places of hex-reader digits: "1F" is 1 x 10 + 15 = 25.
  const int32_t bus = typed[0] * 10 + typed[1];
  const int32_t dev = typed[2] * 10 + typed[3];
  const int32_t fn = typed[4] * 10 + typed[5];
  if (bus > 255 || dev > 31 || fn > 7) return false;
  *device = pci::Bdf{0, static_cast<uint8_t>(bus), static_cast<uint8_t>(dev), static_cast<uint8_t>(fn)};
  return true;
}

bool long_address_entry(const char16_t* prompt, int first_col, int max_digits, uint64_t* value) {
  con::set_cursor(0, 0);
  con::set_attr(kAttrLightGreen);
  con::put_text(prompt);
  con::set_cursor(first_col, 0);
  uint64_t v = 0;
  int k = 0;  // digits taken
  for (;;) {
    const Key key = con::wait_key();
    if (key.scan == kScanEsc) return false;
    if (key.scan != 0) continue;
    if (key.ch == kCharEnter) {
      if (k == 0) continue;
      break;
    }
    if (key.ch == kCharBackspace) {
      if (k == 0) continue;
      --k;
      v >>= 4;
      con::set_cursor(first_col + k, 0);
      con::put_char(u' ');
      con::set_cursor(first_col + k, 0);
      continue;
    }
    const int d = hex_value(key.ch);
    if (d < 0 || k == max_digits) continue;
    con::print(u"%X", d);
    v = (v << 4) | static_cast<uint64_t>(d);
    if (++k == max_digits) break;
  }
  *value = v;
  return true;
}

bool address_entry(const char16_t* prompt, int first_col, int digits, bool backspace_steps_back, uint32_t* value) {
  con::set_cursor(0, 0);
  con::set_attr(kAttrLightGreen);
  con::put_text(prompt);
  return read_hex_field(first_col, 0, digits, backspace_steps_back, value);
}

bool ascii_printable(char16_t ch) { return ch >= 0x20 && ch <= 0x7E; }

bool text_entry(const char16_t* label, int row, char16_t* text, int max, bool (*accept)(char16_t ch)) {
  int n = 0;
  text[0] = 0;
  bool kept = true;
  for (;;) {
    con::set_cursor(0, row);
    con::set_attr(kAttrWhite);
    con::put_text(label);
    con::put_char(u' ');
    con::set_attr(kAttrLightGreen);
    con::put_text(text);
    con::set_attr(kAttrWhite);
    con::repeat(u' ', 79 - text_length(label) - n);
    con::set_cursor(text_length(label) + 1 + n, row);
    const Key k = con::wait_key();
    if (k.scan == kScanEsc) {
      text[0] = 0;
      kept = false;
      break;
    }
    if (k.scan != 0) continue;
    if (k.ch == kCharEnter) break;
    if (k.ch == kCharBackspace && n > 0) text[--n] = 0;
    if (k.ch != kCharBackspace && accept(k.ch) && n < max) {
      text[n++] = k.ch;
      text[n] = 0;
    }
  }
  con::set_cursor(0, row);
  con::repeat(u' ', 80);
  return kept;
}

}  // namespace kvq
