#include "app/grid_page.h"

#include "app/grid.h"
#include "app/input.h"

namespace kvq {

bool handle_grid_keys(AppState& state, CellWrite write, const void* context, bool wrap) {
  CellCursor& cursor = state.cursor();
  if (move_cursor(cursor, state.width, state.key.scan, wrap)) {
    state.key = Key{0, 0};
    return true;
  }
  if (state.key.scan == 0 && state.key.ch == kCharEnter) {
    uint32_t value = 0;
    const int offset = cursor_offset(cursor, state.width);
    // A cell that could not be read cannot be written either.
    if (g_window.any_absent(offset, layout(state.width).bytes)) {
      state.key = Key{0, 0};
      return true;
    }
    if (value_entry(cursor, layout(state.width).digits, &value)) {
      write(state, context, offset, value);
    }
    state.key = Key{0, 0};
    return true;
  }
  return false;
}

}  // namespace kvq
