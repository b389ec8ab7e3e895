// The memory-mapped (enhanced) configuration space of PCI segment 0: where
// the 4 KiB of each function lie, beyond the 256 bytes the configuration
// ports reach.
#pragma once
#include <stdint.h>

#include "hw/window.h"

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
// PCIEXBAR, for buses 0 to 255), when its enable bit is set. An MCFG whose segment 0 lies above 4 GiB
// leaves no space kvq can reach: register 0x60 would then give only the low
// half of the address.
ExtendedSpace find_extended_space();

// The function's 4 KiB, or 0 when its bus is outside the space. Before the
// space is believed for a function, the function's ID dword read through it
// must match the one read through the configuration ports: a base register
// that holds something else on another chipset must not send kvq reading
// arbitrary memory.
uint32_t checked_function_space(const ExtendedSpace& space, int32_t bus, int32_t device, int32_t function);

// Bytes 0x100 to 0xFFF of a function's space at `address`, as dword reads
// in ascending order, into bytes[0x100..0xFFF].
void read_extended(uint32_t address, uint8_t (&bytes)[4096]);

}  // namespace kvq::pci
