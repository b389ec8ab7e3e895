// Device names on the PCIE page and the PCI list. Each lookup reads the
// function's ID dword from the hardware (not from the scan's table), so a
// function that stopped answering loses its name.
#pragma once
#include <stdint.h>

namespace kvq {

// Prints the name from `group` (0..2) at (0, 18) in white, if it holds the
// function's ID; leaves the attribute white.
void pcie_name_lookup(int group, int32_t bus, int32_t device, int32_t function);

// Prints the name from `group`, fitted to the list's 79-column name field,
// at (21, row): white on green for the selected row, light gray otherwise.
// True when a name was printed.
bool list_name_lookup(int group, bool selected, int32_t bus, int32_t device, int32_t function, int row);

}  // namespace kvq
