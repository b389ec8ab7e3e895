// The Memory and I/O pages are twins: 256 consecutive bytes of one address
// space from a base the user moves and types. This is their one pass; each
// page describes its space. The HDD page is the Memory page on a base that a
// disk probe gives.
#pragma once
#include <stdint.h>

#include "app/state.h"
#include "hw/window.h"

namespace kvq {

struct AddressSpace {
  const char16_t* title_format;    // header line at (0, 0), with the base
  const char16_t* prompt;          // address entry prompt over the title
  int digits_col;                  // where the title's base digits stand
  int digits;                      // of a typed base
  bool backspace_steps_back;       // in the address entry
  const char16_t* address_format;  // cursor cell's address on row 19,
  int address_length;              // this long, ending before the ruler's value
  uint32_t mask;                   // address arithmetic wraps here
  uint32_t (*base)(const AppState& state);
  void (*set_base)(AppState& state, uint32_t base);
  void (*read_window)(uint32_t base, RegisterWindow& window);
  void (*write)(uint32_t address, int size, uint32_t value);
  // A page's own key beyond the shared ones; true when it acted.
  bool (*own_key)(AppState& state);
  // For a space whose base comes from elsewhere (the HDD page): the header
  // line and what stands with it, drawn instead of title_format; what
  // PageUp (-1) and PageDown (+1) do instead of moving the base by 0x100.
  void (*draw_title)(AppState& state, uint32_t base) = nullptr;
  void (*page_step)(AppState& state, int direction) = nullptr;
  bool cursor_stops_at_edges = false;  // instead of wrapping
  bool no_address_entry_in_byte_mode = false;
};

void address_space_pass(AppState& state, const AddressSpace& space);

}  // namespace kvq
