// What every grid page shares beyond drawing: its cursor keys and the
// value entry. A page supplies only the write of a typed value.
#pragma once
#include <stdint.h>

#include "app/state.h"

namespace kvq {

// Writes `value` (of the current width) at window offset `offset`;
// `context` is what the page handed to handle_grid_keys (the address space
// the window shows, say).
using CellWrite = void (*)(AppState& state, const void* context, int offset, uint32_t value);

// Arrows move the page's cursor of the current width; Enter runs the value
// entry in the cursor cell and, when the last digit is typed, the write.
// Returns true (and empties the key record) when the key was one of these.
// Without `wrap` the cursor stops at the grid's edges.
bool handle_grid_keys(AppState& state, CellWrite write, const void* context, bool wrap = true);

}  // namespace kvq
