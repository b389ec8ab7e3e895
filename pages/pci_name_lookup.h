// Device names on the PCIE page and the PCI list. Each lookup reads the
// function's ID dword from the hardware (not from the scan's table), so a
// function that stopped answering loses its name.
#pragma once
#include <stdint.h>

#include "hw/pci.h"

namespace kvq {

// The lookups, in the order the pages run them: the Intel and Realtek, AMD
// and Nvidia groups, then every other vendor (the pci.ids file read at
// start-up, then the built-in list). The last names only what the first
// three do not hold.
inline constexpr int kNameLookupCount = 4;

// Prints the name from lookup `group` at (0, 18) in white, if it holds the
// function's ID, cut to 98 characters; leaves the attribute white.
void pcie_name_lookup(int group, const pci::Bdf& f);

// Prints the name from `group`, fitted to the list's name field, from
// list_name_column() to column 99 of `row`: white on green for the selected row, light gray otherwise.
// True when a name was printed.
bool list_name_lookup(int group, bool selected, const pci::Bdf& f, int row);

// Where a list row's name starts: one column later for a function outside
// segment 0, whose prefix "SSSS:BB:DD.F DDDDVVVV " is one longer.
inline int list_name_column(const pci::Bdf& f) { return f.segment != 0 ? 22 : 21; }

// The title of the PCIE page and its capability view, at the cursor:
// "Bus:00 Dev:31 Fun:02" in decimal, and "0001:00:1F.2" outside segment 0.
void print_function_title(const pci::Bdf& f);

}  // namespace kvq
