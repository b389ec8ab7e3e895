// Cursor movement and the modal inputs: the hex key reader, the value entry,
// the device selector and the address entry. The modal inputs are the only
// places kvq waits for a key; the screen stays still while they run.
#pragma once
#include <stdint.h>

#include "app/state.h"

namespace kvq {

inline constexpr int kHexEsc = 23;
inline constexpr int kHexBackspace = 24;

// Blocks until a hex digit (returns 0..15), Esc (23) or Backspace (24);
// every other key is dropped.
int read_hex_key();

// Arrow keys move the cursor with wrap-around within the row or column, or
// without `wrap` stop at the grid's edges. Returns false for any other key.
bool move_cursor(CellCursor& cursor, int width, uint16_t scan, bool wrap = true);

// Enter on a cell: blanks the cell's digits and reads `digits` hex digits in
// place, first digit most significant. Backspace takes back one digit at a
// time. True with the value when the last digit is typed; false on Esc.
bool value_entry(const CellCursor& cursor, int digits, uint32_t* value);
// The same for up to 16 digits: a 64-bit register.
bool value_entry(const CellCursor& cursor, int digits, uint64_t* value);

// The PCIE page's selector: bus, device and function, two digit places each.
// False on Esc, and for a bus above 255, a device above 31 or a function
// above 7, which would name another function than the header shows.
bool device_selector(pci::Bdf* device);

// Address entry over a title line: `prompt` in light green at (0, 0), then
// `digits` hex digits from column `first_col`, each echoed where the old
// digit stood. Backspace erases and retakes the previous digit when
// `backspace_steps_back`, and is ignored otherwise. False on Esc.
bool address_entry(const char16_t* prompt, int first_col, int digits, bool backspace_steps_back, uint32_t* value);

// The same over up to `max_digits` (16 at most) hex digits, which Enter may
// end early once one is typed; Backspace erases and retakes the previous
// digit. False on Esc.
bool long_address_entry(const char16_t* prompt, int first_col, int max_digits, uint64_t* value);

// A line typed in place on screen row `row` after `label` (white), the
// text in light green: a character `accept` takes adds to it (up to `max`),
// Backspace takes the last back, Enter keeps it, Esc clears it and returns
// false. The row is left blank.
bool text_entry(const char16_t* label, int row, char16_t* text, int max, bool (*accept)(char16_t ch));
// The printable ASCII characters.
bool ascii_printable(char16_t ch);

}  // namespace kvq
