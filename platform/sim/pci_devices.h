#pragma once
#include "platform/sim/board.h"

namespace kvq::sim {

// Configuration mechanism #1 at 0xCF8/0xCFC and the memory-mapped
// configuration space that register 0x60 of 0:0.0 places (as on Intel's
// PCIEXBAR: bit 0 enable, bits 2:1 size 256/128/64 MiB, base in 31:26).
void install_pci_host(Board& board);

}  // namespace kvq::sim
