#pragma once
#include <vector>

#include "platform/sim/board.h"

namespace kvq::sim {

// A simulated QEMU Q35 board as `make run` starts it: one qemu64 processor,
// host bridge with its
// memory-mapped configuration space at 0xB0000000, VGA, an e1000e at 00:04.0,
// an RTL8139 at 00:05.0, the ICH9 LPC, AHCI (in AHCI mode) and SMBus
// functions with the boot disk on AHCI port 0, the CMOS clock, OVMF's
// variable store and its firmware's Setup forms (hii_forms.h).
void build_q35(Board& board);

// A second AHCI function at 0:`device`.0, as `-device ich9-ahci,addr=N`
// adds one: ports 0 to 5 implemented, `disk` on port 0 set up by the
// firmware with its structures from `structures` up, and the firmware's
// ATA pass-thru on it (as on 0:31:2).
class AhciController;
struct SimDisk;
AhciController& add_ahci_function(Board& board, int device, uint32_t abar, const SimDisk& disk, uint32_t structures);

// An NVM Express controller at 0:`device`.0 that the firmware drives, as
// `-device nvme,addr=N` adds one (its 64-bit BAR0 above 4 GiB).
void add_nvme(Board& board, int device, SimNvme nvme);

// The SMBIOS structure table OVMF builds from QEMU's defaults.
std::vector<uint8_t> q35_smbios_table();

// A second PCI segment, as a board with more root complexes has it: the
// MCFG lists segment 0 (buses 0 to 255 at PCIEXBAR's base) and segment 1
// (buses 0 to 3 at `base`), and segment 1 holds a function at 01:00.0
// (Express, its extended capabilities ending at 100h). The ACPI tables are
// written again at kQ35AcpiTables.
PciFunction& add_second_segment(Board& board, uint64_t base);

inline constexpr uint8_t kQ35E1000eMac[6] = {0x52, 0x54, 0x00, 0xAA, 0xBB, 0x01};
inline constexpr uint8_t kQ35Rtl8139Mac[6] = {0x52, 0x54, 0x00, 0xAA, 0xBB, 0x02};
inline constexpr uint32_t kQ35E1000eBar0 = 0xC1020000u;
inline constexpr uint16_t kQ35E1000eIo = 0x6160;  // BAR2: IOADDR, IODATA
inline constexpr uint16_t kQ35Rtl8139Io = 0x6000;
// AHCI at 0:31:2 as OVMF leaves it: the boot disk on port 0 (504 MiB), ports
// 1 to 5 empty; PRD entry 0 of port 0 still points at the data buffer of the
// driver's last transfer.
inline constexpr uint32_t kQ35Abar = 0xC1054000u;
inline constexpr uint32_t kQ35CommandLists = 0x1E540000u;
inline constexpr uint32_t kQ35ReceivedFis = 0x1E530000u;
inline constexpr uint32_t kQ35CommandTable = 0x1E550000u;
inline constexpr uint32_t kQ35StaleBuffer = 0x1E7F0000u;
inline constexpr uint32_t kQ35AcpiTables = 0x1F77E000u;
inline constexpr uint32_t kQ35LocalApic = 0xFEE00000u;

}  // namespace kvq::sim
