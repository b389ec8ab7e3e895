#include "pages/list_rows.h"

#include "platform/console.h"
#include "platform/text16.h"

namespace kvq {

void put_row(int row, uint8_t attr, const char16_t* text) {
  con::set_cursor(0, row);
  con::set_attr(attr);
  con::put_text(text);
  con::repeat(u' ', 80 - text_length(text));
}

void fit_text(const char16_t* text, int width, char16_t* out) {
  int n = 0;
  for (; n < width && text[n] != 0; ++n) out[n] = text[n] < 0x20 ? u' ' : text[n];
  if (n == width && text[n] != 0) out[width - 1] = u'>';
  out[n] = 0;
}

}  // namespace kvq
