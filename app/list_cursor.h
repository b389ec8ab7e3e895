// The selected row of a list page and the first row it shows: Up and Down
// move the selection by one, PageUp and PageDown move both by a screenful,
// and the selection always stays in view.
#pragma once
#include <stdint.h>

#include "platform/keys.h"

namespace kvq {

// `count` rows, `shown` of them on the screen. True when `scan` was one of
// the four keys.
inline bool move_list_cursor(uint16_t scan, int32_t count, int32_t shown, int32_t* row, int32_t* top) {
  const auto clamp = [](int32_t v, int32_t low, int32_t high) { return v < low ? low : v > high ? high : v; };
  const int32_t last = count > 0 ? count - 1 : 0;
  if (scan == kScanUp || scan == kScanDown) {
    *row = clamp(*row + (scan == kScanUp ? -1 : 1), 0, last);
  } else if (scan == kScanPageUp || scan == kScanPageDown) {
    const int32_t step = scan == kScanPageUp ? -shown : shown;
    *row = clamp(*row + step, 0, last);
    *top = clamp(*top + step, 0, count > shown ? count - shown : 0);
  } else {
    return false;
  }
  *top = clamp(*top, *row - shown + 1, *row);
  return true;
}

}  // namespace kvq
