#include "platform/sim/q35.h"

#include <ctime>

#include "platform/sim/ahci_sim.h"
#include "platform/sim/apic_sim.h"
#include "platform/sim/devices.h"
#include "platform/sim/acpi_tables.h"
#include "platform/sim/cpu_models.h"
#include "platform/sim/hii_forms.h"
#include "platform/sim/smbios_tables.h"

namespace kvq::sim {

void build_q35(Board& board) {
  set_cpus(board, qemu64_cpu, 1);
  install_ovmf_variables(board.variables);
  PciFunction& host = board.add_function(0, 0, 0, 0x8086, 0x29C0);
  host.set32(0x08, 0x06000002);
  host.set32(0x2C, 0x11001AF4);
  host.set32(0x60, 0xB0000001);  // PCIEXBAR: 256 MiB at 0xB0000000, enabled

  PciFunction& vga = board.add_function(0, 1, 0, 0x1234, 0x1111);
  vga.set32(0x08, 0x03000002);
  vga.set_memory_bar(0, 0xC0000000, 16u << 20);

  PciFunction& nic = board.add_function(0, 4, 0, 0x8086, 0x10D3);
  nic.set16(0x04, 0x0007);  // I/O, memory and bus master enabled, as OVMF leaves it
  nic.set32(0x08, 0x02000000);
  nic.set_memory_bar(0, kQ35E1000eBar0, E1000eMmio::kSize);
  nic.set_writable(0x10, 4, ~(E1000eMmio::kSize - 1));
  nic.set_io_bar(2, kQ35E1000eIo, 0x20);
  nic.set8(0x3C, 0x0B);
  nic.set8(0x3D, 0x01);
  // Its capabilities as QEMU 7.2 fills them in: power management version 2;
  // MSI, 64-bit; PCI Express version 1, a root complex integrated endpoint
  // (no link), 2.5GT/s x1 in its link registers all the same; MSI-X, five
  // vectors in BAR3. Then AER version 2 and the device serial number.
  nic.add_capability(0x01, 0xC8);
  nic.set16(0xCA, 0x0022);
  nic.add_capability(0x05, 0xD0);
  nic.set16(0xD2, 0x0080);
  nic.add_capability(0x10, 0xE0);
  nic.set16(0xE2, 0x0091);
  nic.set32(0xE4, 0x00008000);
  nic.set32(0xEC, 0x00000411);
  nic.set16(0xF2, 0x0011);
  nic.add_capability(0x11, 0xA0);
  nic.set16(0xA2, 0x0004);
  nic.set32(0xA4, 0x00000003);
  nic.set32(0xA8, 0x00002003);
  nic.set32(0x100, 0x14020001);
  nic.set32(0x10C, 0x00462030);  // uncorrectable error severity
  nic.set32(0x114, 0x0000E000);  // correctable error mask
  nic.set32(0x118, 0x000000A0);
  nic.set32(0x140, 0x00010003);
  nic.set32(0x144, 0xFFAABB01);
  nic.set32(0x148, 0x525400FF);
  auto registers = std::make_unique<E1000eMmio>(kQ35E1000eBar0, kQ35E1000eMac);
  board.add_port_device(std::make_unique<E1000eIo>(kQ35E1000eIo, *registers));
  board.add_mem_device(std::move(registers));

  PciFunction& rtl = board.add_function(0, 5, 0, 0x10EC, 0x8139);
  rtl.set16(0x04, 0x0007);
  rtl.set32(0x08, 0x02000020);
  rtl.set_io_bar(0, kQ35Rtl8139Io, 0x100);
  rtl.set8(0x3C, 0x0A);
  rtl.set8(0x3D, 0x01);
  board.add_port_device(std::make_unique<Rtl8139Io>(kQ35Rtl8139Io, kQ35Rtl8139Mac));

  PciFunction& lpc = board.add_function(0, 31, 0, 0x8086, 0x2918);
  lpc.set32(0x08, 0x06010002);
  lpc.set8(0x0E, 0x80);  // multi-function device
  lpc.set32(0x80, 0x00050000);  // LPC_EN: COMA and LPT; neither 2Eh nor 4Eh
  lpc.set32(0xF0, 0xFED1C001);  // RCBA: the root complex block, enabled

  PciFunction& ahci = board.add_function(0, 31, 2, 0x8086, 0x2922);
  ahci.set32(0x08, 0x01060102);
  ahci.set32(0x24, 0xC1054000);  // ABAR
  ahci.set32(0x90, 0x00000040);  // SATA mode select: AHCI
  ahci.set16(0x04, 0x0007);      // I/O, memory and bus master on: the firmware's driver runs it
  ahci.add_capability(0x05, 0x80);
  ahci.add_capability(0x12, 0xA8);
  auto hba = std::make_unique<AhciController>(board, kQ35Abar, 0x3F);  // ports 0 to 5
  for (int p = 0; p < 6; ++p) {
    hba->ports[p].clb = kQ35CommandLists + 0x400u * static_cast<uint32_t>(p);
    hba->ports[p].fb = kQ35ReceivedFis + 0x100u * static_cast<uint32_t>(p);
  }
  hba->attach(0, SimDisk{.model = "QEMU HARDDISK", .sectors28 = 1032192, .sectors48 = 1032192});
  hba->set_up_like_firmware(0, kQ35CommandLists, kQ35ReceivedFis, kQ35CommandTable, kQ35StaleBuffer);
  board.ahci = hba.get();
  // OVMF's AtaAtapiPassThruDxe drives it.
  board.ata.push_back({.device = 31, .function = 2, .hba = hba.get()});
  board.add_mem_device(std::move(hba));

  PciFunction& smbus = board.add_function(0, 31, 3, 0x8086, 0x2930);
  smbus.set32(0x08, 0x0C050002);

  auto cmos = std::make_unique<Cmos>();
  cmos->clock = [] {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return static_cast<uint32_t>(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec);
  };
  board.add_port_device(std::move(cmos));

  // OVMF's SMBIOS tables from QEMU's defaults, behind a 2.x entry point.
  install_smbios(board, q35_smbios_table(), SmbiosEntry::k2);

  // OVMF's MCFG on Q35: segment 0, buses 0 to 255 at PCIEXBAR's base.
  install_acpi(board, kQ35AcpiTables, {{0xB0000000u, 0, 0, 255}});

  // The processor's local APIC where IA32_APIC_BASE puts it.
  board.add_mem_device(std::make_unique<ApicPage>(board, kQ35LocalApic, ApicPage::Kind::kLocal));

  // OVMF's memory space map of a 512 MiB Q35: RAM, the legacy VGA and BIOS
  // area, the memory-mapped configuration space (reserved), the 32-bit PCI
  // window up to the APICs and the flash, and the 64-bit PCI window.
  using plat::GcdType;
  board.memory_space = {
      {0x00000000u, 0xA0000u, GcdType::kSystemMemory},
      {0x000A0000u, 0x60000u, GcdType::kReserved},
      {0x00100000u, 0x1FF00000u, GcdType::kSystemMemory},
      {0xB0000000u, 0x10000000u, GcdType::kReserved},
      {0xC0000000u, 0x40000000u, GcdType::kMemoryMappedIo},
      {0xE000000000ull, 0x2000000000ull, GcdType::kMemoryMappedIo},
  };

  // OVMF's platform form set, and a board's Setup beside it.
  add_setup_forms(board);
}

AhciController& add_ahci_function(Board& board, int device, uint32_t abar, const SimDisk& disk, uint32_t structures) {
  PciFunction& f = board.add_function(0, device, 0, 0x8086, 0x2922);
  f.set32(0x08, 0x01060102);
  f.set32(0x24, abar);
  f.set16(0x04, 0x0007);
  auto hba = std::make_unique<AhciController>(board, abar, 0x3F);
  hba->attach(0, disk);
  hba->set_up_like_firmware(0, structures, structures + 0x1000, structures + 0x2000, structures + 0x3000);
  AhciController& ref = *hba;
  board.more_ahci.push_back(&ref);
  board.ata.push_back({.device = static_cast<uint8_t>(device), .hba = &ref});
  board.add_mem_device(std::move(hba));
  return ref;
}

void add_nvme(Board& board, int device, SimNvme nvme) {
  PciFunction& f = board.add_function(0, device, 0, 0x1B36, 0x0010);
  f.set32(0x08, 0x01080202);
  f.set32(0x10, 0x00000004);  // 64-bit memory BAR0 at E0_0000_0000h
  f.set32(0x14, 0x000000E0);
  nvme.bus = 0;
  nvme.device = static_cast<uint8_t>(device);
  nvme.function = 0;
  board.nvme.push_back(std::move(nvme));
}

PciFunction& add_second_segment(Board& board, uint64_t base) {
  board.config_tables.clear();
  install_acpi(board, kQ35AcpiTables, {{0xB0000000u, 0, 0, 255}, {base, 1, 0, 3}});
  board.ecam_windows.push_back({base, 1, 0, 3});
  PciFunction& f = board.add_segment_function(1, 1, 0, 0, 0x8086, 0x10D3);
  f.set32(0x08, 0x02000000);
  f.add_capability(0x10, 0x40);
  f.set32(0x100, 0x00010001);  // AER, the last extended capability
  return f;
}

std::vector<uint8_t> q35_smbios_table() {
  return smbios_table({
      {0, {1, 2, 0x00, 0xE8, 3, 0x00, 0x08, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x1C, 0x00, 0x00, 0xFF, 0xFF},
       {"EFI Development Kit II / OVMF", "0.0.0", "02/06/2015"}},
      {1, {1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 6, 0, 0},
       {"QEMU", "Standard PC (Q35 + ICH9, 2009)", "pc-q35-7.2"}},
      {3, {1, 0x01, 2, 0, 0, 0x03, 0x03, 0x03, 0x02, 0, 0, 0, 0, 0, 0, 0, 0}, {"QEMU", "pc-q35-7.2"}},
  });
}

}  // namespace kvq::sim
