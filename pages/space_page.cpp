#include "pages/space_page.h"

#include "app/colors.h"
#include "app/footer.h"
#include "app/grid.h"
#include "app/grid_page.h"
#include "app/input.h"
#include "platform/console.h"

namespace kvq {
namespace {

void write_cell(AppState& state, const void* context, int offset, uint32_t value) {
  const AddressSpace& space = *static_cast<const AddressSpace*>(context);
  const uint32_t address = (space.base(state) + static_cast<uint32_t>(offset)) & space.mask;
  space.write(address, layout(state.width).bytes, value);
}

void step(AppState& state, const AddressSpace& space, int direction) {
  if (space.page_step != nullptr) {
    space.page_step(state, direction);
  } else {
    space.set_base(state, (space.base(state) + static_cast<uint32_t>(direction * 0x100)) & space.mask);
  }
}

void act_on_key(AppState& state, const AddressSpace& space) {
  if (handle_grid_keys(state, write_cell, &space, !space.cursor_stops_at_edges)) return;
  const Key key = state.key;
  if (key.scan == kScanPageUp) {
    step(state, space, -1);
  } else if (key.scan == kScanPageDown) {
    step(state, space, +1);
  } else if (key.scan == 0 && key.ch == u'p') {
    // The typed digits replace the title's digits from left to right.
    uint32_t typed = 0;
    if ((state.width != kByte || !space.no_address_entry_in_byte_mode) &&
        address_entry(space.prompt, space.digits_col, space.digits, space.backspace_steps_back, &typed)) {
      space.set_base(state, typed);
    }
  } else if (space.own_key == nullptr || !space.own_key(state)) {
    return;
  }
  state.key = Key{0, 0};
}

}  // namespace

void address_space_pass(AppState& state, const AddressSpace& space) {
  const uint32_t base = space.base(state);
  con::set_cursor(0, 0);
  con::set_attr(kAttrWhite);
  if (space.draw_title != nullptr) {
    space.draw_title(state, base);
  } else {
    con::print(space.title_format, base);
  }
  space.read_window(base, g_window);
  const CellCursor& cursor = state.cursor();
  draw_grid(g_window, state.width, cursor);
  if (state.width == kByte) draw_char_column(g_window, cursor);
  draw_cursor_offset(cursor, state.width);
  const uint32_t address = (base + static_cast<uint32_t>(cursor_offset(cursor, state.width))) & space.mask;
  con::set_cursor(col_before_ruler(state.width, space.address_length), 19);
  con::print(space.address_format, address);
  draw_ruler(cursor_value(g_window, cursor, state.width), state.width);
  draw_footer(false);
  draw_width_label(state.width);
  con::poll_key(&state.key);
  act_on_key(state, space);
}

}  // namespace kvq
