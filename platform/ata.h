// ATA disks through the firmware: its ATA Pass Thru protocol, whose driver
// owns the AHCI ports it covers and runs a command for kvq, and the PCI I/O
// protocol's bus-master mapping, without which a DMA-protected board (VT-d,
// AMD-Vi before the OS) blocks the controller's write into kvq's buffer.
// The UEFI backend asks the firmware; on the host the simulated board
// answers.
#pragma once
#include <stdint.h>

namespace kvq::plat {

// A PCI function as the PCI I/O protocol's GetLocation names it.
struct PciLocation {
  uint16_t segment;
  uint8_t bus;
  uint8_t device;
  uint8_t function;
  constexpr bool operator==(const PciLocation&) const = default;
};

// One ATA Pass Thru protocol instance: the controller it drives (all ones
// when its handle has no PCI I/O), and the alignment its buffers need (0 or
// 1: any).
struct AtaController {
  PciLocation location;
  uint32_t io_align;
};

inline constexpr int kMaxAtaControllers = 8;
// A port without a port multiplier, as the protocol names it.
inline constexpr uint16_t kNoMultiplier = 0xFFFF;

// Finds the instances, at most kMaxAtaControllers; returns how many.
// Controller numbers below count from them.
int ata_controllers(AtaController (&out)[kMaxAtaControllers]);

// The protocol's own walk: the port after *port (0xFFFF: the first) that
// has an ATA disk, and the disk after *multiplier_port on `port` (0xFFFF:
// the first). False after the last. The firmware keeps the walk's place, so
// each port's disks are walked to their end before the next port.
bool ata_next_port(int controller, uint16_t* port);
bool ata_next_device(int controller, uint16_t port, uint16_t* multiplier_port);

// IDENTIFY DEVICE (ECh, PIO data-in, 512 bytes) through the protocol. The
// answer lands at the start of the 4 KiB of kvq's memory at `buffer` (page
// aligned, below 4 GiB); the protocol's status block goes in its second
// half, so either meets an IoAlign of up to 2 KiB. False when the protocol
// refused or the command failed.
bool ata_identify(int controller, uint16_t port, uint16_t multiplier_port, uint32_t buffer);

// A bus-master write window into kvq's memory, through the PCI I/O protocol
// of the function at `where`: the address the controller must use
// (`device_address`, not necessarily `host`) and the firmware's mapping.
struct DmaMapping {
  uint64_t device_address;
  void* pci_io;
  void* mapping;
};
bool dma_map_for_device_writes(const PciLocation& where, uint32_t host, uint32_t bytes, DmaMapping* out);
// Ends the window (and copies a bounce buffer's data into kvq's memory).
void dma_unmap(const DmaMapping& mapping);

}  // namespace kvq::plat
