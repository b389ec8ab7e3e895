// The Memory and I/O pages are twins: 256 consecutive bytes of one address
// space from a base the user moves and types. This is their one pass; each
// page describes its space.
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
  const char16_t* address_format;  // cursor cell's address on row 19
  int address_col[kWidthCount];    // its column, by width
  uint32_t mask;                   // address arithmetic wraps here
  uint32_t (*base)(const AppState& state);
  void (*set_base)(AppState& state, uint32_t base);
  void (*read_window)(uint32_t base, RegisterWindow& window);
  void (*write)(uint32_t address, int size, uint32_t value);
  // A page's own key beyond the shared ones; true when it acted.
  bool (*own_key)(AppState& state);
};

void address_space_pass(AppState& state, const AddressSpace& space);

}  // namespace kvq
