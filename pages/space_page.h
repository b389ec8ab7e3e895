// The Memory and I/O pages are twins: 256 consecutive bytes of one address
// space from a base the user moves and types. This is their one pass; each
// page describes its space. The HDD page is the Memory page on a base that a
// disk probe gives.
#pragma once
#include <stdint.h>

#include "app/state.h"
#include "hw/memio.h"
#include "hw/window.h"

namespace kvq {

struct AddressSpace {
  // The header line at (0, 0), with the base.
  void (*draw_title)(AppState& state, uint64_t base);
  const char16_t* prompt;          // address entry prompt over the title
  int digits_col;                  // where the title's base digits stand
  int (*digits_col_of)(const AppState& state) = nullptr;  // ... when the title's length varies
  int digits;                      // of a base typed after p
  bool backspace_steps_back;       // in the address entry
  // The cursor cell's address on row 19 ("0x%08X ->"), in this many digits;
  // an address above 4 GiB takes 16 when the space is `wide`.
  int address_digits;
  bool wide;
  uint64_t (*address)(uint64_t base, int offset);  // of window byte `offset`
  uint64_t (*base)(const AppState& state);
  void (*set_base)(AppState& state, uint64_t base);
  // At the width `size` (1, 2 or 4), as F7 shows it.
  void (*read_window)(uint64_t base, int size, RegisterWindow& window);
  // Why the space refused the write (nothing was written), or kNone.
  memio::Refusal (*write)(uint64_t address, int size, uint32_t value);
  // A page's own key beyond the shared ones; true when it acted.
  bool (*own_key)(AppState& state);
  // What PageUp (-1) and PageDown (+1) do; null: the base moves by 0x100.
  void (*page_step)(AppState& state, int direction) = nullptr;
  bool cursor_stops_at_edges = false;  // instead of wrapping
  bool no_address_entry_in_byte_mode = false;
};

void address_space_pass(AppState& state, const AddressSpace& space);

// Row 18 says why a write or a base was refused; blank_message clears it.
void say_on_message_row(const char16_t* text);
void blank_message_row();

}  // namespace kvq
