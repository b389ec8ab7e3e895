// Where the memory-mapped (enhanced) configuration space lies: the 4 KiB of
// each function, beyond the 256 bytes the configuration ports reach, and
// the whole of every function outside segment 0. The access method table
// (hw/pci.h) reaches it through this.
#pragma once
#include <stdint.h>

namespace kvq::pci {

// One range of buses of one segment (PCI domain).
struct ExtendedSpace {
  uint64_t base = 0;  // where bus 0 of the segment would lie
  uint16_t segment = 0;
  uint8_t first_bus = 0;
  uint8_t last_bus = 0;
};

inline constexpr int kMaxSpaces = 16;

struct ExtendedSpaces {
  int count = 0;
  bool from_mcfg = false;
  ExtendedSpace at[kMaxSpaces] = {};
  // The range that holds the bus of the segment, or null.
  const ExtendedSpace* find(uint16_t segment, uint8_t bus) const;
};

// Every allocation of the firmware's ACPI MCFG table (wherever it lies:
// firmware puts it above 4 GiB on boards with a large MMIO space), by
// segment and first bus. A firmware without one gets PCIEXBAR of segment 0,
// on a host bridge known to have it and only while it is enabled.
void find_extended_spaces(ExtendedSpaces& spaces);

// Intel's PCIEXBAR (60h to 67h of 0:0.0) on the host bridges that have it.
struct Pciexbar {
  bool present = false;  // enabled, with a length this decoder knows
  uint64_t base = 0;
  int buses = 0;  // 256, 128 or 64
};
// Whether the ID dword of 0:0.0 names an Intel host bridge with PCIEXBAR.
bool has_pciexbar(uint32_t host_bridge_id);
// PCIEXBAR as the host bridge holds it now, read afresh (two dwords).
Pciexbar read_pciexbar();
// The two dwords decoded.
Pciexbar decode_pciexbar(uint32_t low, uint32_t high);

}  // namespace kvq::pci
