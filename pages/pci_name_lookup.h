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

// Prints the name from `group`, fitted to the list's 79-column name field,
// at (21, row): white on green for the selected row, light gray otherwise.
// True when a name was printed.
bool list_name_lookup(int group, bool selected, const pci::Bdf& f, int row);

}  // namespace kvq
