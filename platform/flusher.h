// Sends the difference between the screen model and what the real console
// shows. Over a serial line every byte counts: an unchanged frame sends
// nothing at all, a changed cell sends itself and at most a cursor move and
// an attribute change.
#pragma once
#include <stdint.h>

#include "platform/screen.h"

namespace kvq {

struct ConsoleDevice;

class Flusher {
 public:
  // Forget what the real console shows (the next flush replays a mode set
  // and a clear, sets the attribute and the cursor, and redraws everything).
  // Must be called before the first flush.
  void invalidate();
  // real_cols/real_rows: the geometry of the real mode; cells outside it are
  // clipped, and the bottom-right cell is never written so that the console
  // never scrolls.
  void flush(const Screen& screen, const ConsoleDevice& device, int real_cols, int real_rows);

 private:
  void replay_mode_and_clear(const Screen& screen, const ConsoleDevice& device);
  void send_row(const Screen& screen, const ConsoleDevice& device, int row, int width);
  void set_attr(const ConsoleDevice& device, uint8_t attr);
  void move_to(const ConsoleDevice& device, int col, int row);

  Cell shadow_[Screen::kMaxRows][Screen::kMaxCols] = {};
  bool valid_ = false;
  uint32_t mode_generation_ = 0;
  uint32_t clear_generation_ = 0;
  int real_cols_ = 0;
  // What the real console has now; -1 unknown (set by invalidate).
  int attr_ = 0;
  int col_ = 0;
  int row_ = 0;
  int cursor_visible_ = 0;
};

// Two cells look the same on a console: same character and colours, or both
// blank on the same background.
inline bool looks_same(const Cell& a, const Cell& b) {
  if (a.ch != b.ch) return false;
  if (a.attr == b.attr) return true;
  return a.ch == u' ' && attr_background(a.attr) == attr_background(b.attr);
}

}  // namespace kvq
