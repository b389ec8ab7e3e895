// ACPI tables in the simulated board's RAM, laid out as firmware publishes
// them: an ACPI 2.0 root pointer listed in the configuration table, an XSDT
// (and the RSDT an ACPI 1.0 reader would take), a FACP that points to a
// DSDT (a small AML body iasl decompiles) and a FACS, an MCFG, and as many
// SSDTs as a test asks for.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/sim/board.h"

namespace kvq::sim {

struct McfgAllocation {
  uint64_t base;
  uint16_t segment;
  uint8_t first_bus;
  uint8_t last_bus;
};

struct AcpiLayout {
  uint32_t rsdp;
  uint32_t xsdt;
  uint32_t rsdt;
  uint32_t facp;
  uint32_t dsdt;
  uint32_t facs;
  uint32_t mcfg;
  uint32_t ssdt;  // the first; each 48 bytes after the last
};

// Writes the tables from `at` (16-byte aligned) upwards, every checksum
// right, and lists the root pointer under the ACPI 2.0 GUID.
AcpiLayout install_acpi(Board& board, uint32_t at, const std::vector<McfgAllocation>& mcfg, int ssdts = 0);

// Makes the checksum of the table (or root pointer) at `address` over
// `length` bytes right again, at the byte `checksum_at`, after a test
// changed one of its bytes.
void fix_checksum(Board& board, uint32_t address, uint32_t length, uint32_t checksum_at);

// Sets a little-endian field of `bytes` bytes at `offset` of the table at
// `table`, then makes its checksum (over its stated length) right again.
void set_field(Board& board, uint32_t table, uint32_t offset, uint64_t value, int bytes);

}  // namespace kvq::sim
