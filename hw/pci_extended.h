// Where the memory-mapped (enhanced) configuration space of PCI segment 0
// lies: the 4 KiB of each function, beyond the 256 bytes the configuration
// ports reach. The access method table (hw/pci.h) reaches it through this.
#pragma once
#include <stdint.h>

namespace kvq::pci {

struct ExtendedSpace {
  bool present = false;
  uint32_t base = 0;  // address of bus 0, device 0, function 0
  uint8_t first_bus = 0;
  uint8_t last_bus = 0;
  bool from_mcfg = false;
};

// From the firmware's ACPI MCFG table: the entry for segment 0. A firmware
// without one gets the PCIE page's rule (register 0x60 of 0:0.0, Intel's
// PCIEXBAR, for buses 0 to 255), when its enable bit is set. An MCFG whose
// segment 0 lies above 4 GiB leaves no space kvq can reach: register 0x60
// would then give only the low half of the address.
ExtendedSpace find_extended_space();

}  // namespace kvq::pci
