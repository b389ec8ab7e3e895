// Where the memory-mapped (enhanced) configuration space of PCI segment 0
// lies: the 4 KiB of each function, beyond the 256 bytes the configuration
// ports reach. The access method table (hw/pci.h) reaches it through this.
#pragma once
#include <stdint.h>

namespace kvq::pci {

struct ExtendedSpace {
  bool present = false;
  uint64_t base = 0;  // address of bus 0, device 0, function 0
  uint8_t first_bus = 0;
  uint8_t last_bus = 0;
  bool from_mcfg = false;
};

// From the firmware's ACPI MCFG table: the entry for segment 0, wherever it
// lies (firmware puts it above 4 GiB on boards with a large MMIO space). A
// firmware without one gets the PCIE page's rule (register 0x60 of 0:0.0,
// Intel's PCIEXBAR, for buses 0 to 255), when its enable bit is set.
ExtendedSpace find_extended_space();

}  // namespace kvq::pci
