#pragma once
#include "platform/sim/board.h"

namespace kvq::sim {

// Configuration mechanism #1 at 0xCF8/0xCFC, and the memory-mapped
// configuration space that an Intel host bridge's PCIEXBAR places (60h and
// 64h: bit 0 enable, bits 2:1 size 256/128/64 MiB, base from bit 26 up) or
// the board lists in its ECAM windows, of any segment.
void install_pci_host(Board& board);

}  // namespace kvq::sim
