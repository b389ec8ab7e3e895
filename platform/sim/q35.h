#pragma once
#include "platform/sim/board.h"

namespace kvq::sim {

// A simulated QEMU Q35 board as `make run` starts it: host bridge with its
// memory-mapped configuration space at 0xB0000000, VGA, an e1000e at 00:04.0,
// an RTL8139 at 00:05.0, the ICH9 LPC, AHCI (in AHCI mode) and SMBus
// functions, and the CMOS clock.
void build_q35(Board& board);

inline constexpr uint8_t kQ35E1000eMac[6] = {0x52, 0x54, 0x00, 0xAA, 0xBB, 0x01};
inline constexpr uint8_t kQ35Rtl8139Mac[6] = {0x52, 0x54, 0x00, 0xAA, 0xBB, 0x02};
inline constexpr uint32_t kQ35E1000eBar0 = 0xC1020000u;
inline constexpr uint16_t kQ35Rtl8139Io = 0x6000;
inline constexpr uint32_t kQ35AcpiTables = 0x1F77E000u;

}  // namespace kvq::sim
