#include "pages/space_page.h"

#include "app/colors.h"
#include "app/footer.h"
#include "app/grid.h"
#include "app/grid_page.h"
#include "app/input.h"
#include "platform/console.h"
#include "platform/format.h"
#include "platform/text16.h"

namespace kvq {
namespace {

constexpr int kMessageRow = 18;

// A value entry writes into the window the pass drew: at its base, whatever
// the page's base has become since.
struct DrawnWindow {
  const AddressSpace& space;
  uint64_t base;
};

void write_cell(AppState& state, const void* context, int offset, uint32_t value) {
  const DrawnWindow& drawn = *static_cast<const DrawnWindow*>(context);
  const uint64_t address = drawn.space.address(drawn.base, offset);
  const memio::Refusal refused = drawn.space.write(address, layout(state.width).bytes, value);
  if (refused != memio::Refusal::kNone) {
    char16_t text[81];
    sformat(text, 81, address > 0xFFFFFFFFu ? u"%X %s: nothing was written." : u"%08X %s: nothing was written.",
            address, memio::why(refused));
    say_on_message_row(text);
  }
}

void step(AppState& state, const AddressSpace& space, int direction) {
  if (space.page_step != nullptr) {
    space.page_step(state, direction);
  } else {
    space.set_base(state, space.address(space.base(state), direction * 0x100));
  }
}

void act_on_key(AppState& state, const AddressSpace& space, uint64_t drawn_base) {
  const DrawnWindow drawn = {space, drawn_base};
  if (handle_grid_keys(state, write_cell, &drawn, !space.cursor_stops_at_edges)) return;
  const Key key = state.key;
  if (key.scan == kScanPageUp) {
    step(state, space, -1);
  } else if (key.scan == kScanPageDown) {
    step(state, space, +1);
  } else if (key.scan == 0 && key.ch == u'p') {
    // The typed digits replace the title's digits from left to right; the
    // title before them gives way to the prompt.
    uint32_t typed = 0;
    const int col = space.digits_col_of != nullptr ? space.digits_col_of(state) : space.digits_col;
    if (state.width != kByte || !space.no_address_entry_in_byte_mode) {
      con::set_cursor(0, 0);
      con::repeat(u' ', col);
      if (address_entry(space.prompt, col, space.digits, space.backspace_steps_back, &typed)) {
        space.set_base(state, typed);
      }
    }
  } else if (space.own_key == nullptr || !space.own_key(state)) {
    return;
  }
  state.key = Key{0, 0};
}

// The cursor cell's address, ending one blank before the ruler's value. A
// wide space keeps room for 16 digits, blank while the address has fewer.
void draw_address_label(const AddressSpace& space, int width, uint64_t address) {
  const int digits = space.wide && address > 0xFFFFFFFFu ? 16 : space.address_digits;
  const int room = space.wide ? 16 : space.address_digits;
  con::set_cursor(col_before_ruler(width, room + 5), 19);
  con::repeat(u' ', room - digits);
  con::print(digits == 16 ? u"0x%016X ->" : (digits == 8 ? u"0x%08X ->" : u"0x%04X ->"), address);
}

}  // namespace

void say_on_message_row(const char16_t* text) {
  con::set_cursor(0, kMessageRow);
  con::set_attr(kAttrWhite);
  con::put_text(text);
  con::repeat(u' ', 80 - text_length(text));
}

void blank_message_row() {
  con::set_cursor(0, kMessageRow);
  con::set_attr(kAttrWhite);
  con::repeat(u' ', 80);
}

void address_space_pass(AppState& state, const AddressSpace& space) {
  const uint64_t base = space.base(state);
  con::set_cursor(0, 0);
  con::set_attr(kAttrWhite);
  space.draw_title(state, base);
  space.read_window(base, layout(state.width).bytes, g_window);
  const CellCursor& cursor = state.cursor();
  draw_grid(g_window, state.width, cursor);
  if (state.width == kByte) draw_char_column(g_window, cursor);
  draw_cursor_offset(cursor, state.width);
  draw_address_label(space, state.width, space.address(base, cursor_offset(cursor, state.width)));
  draw_cursor_ruler(g_window, cursor, state.width);
  draw_footer(false);
  draw_width_label(state.width);
  con::poll_key(&state.key);
  act_on_key(state, space, base);
}

}  // namespace kvq
