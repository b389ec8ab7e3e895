// Every disk the board has, in the order the HDD page steps through them:
// the ports of the chipset's SATA controller at 0:31:2, the implemented
// ports of every other AHCI function, then every NVM Express namespace the
// firmware's pass-thru protocol offers. And what each says of itself.
#pragma once
#include <stdint.h>

#include "hw/pci.h"
#include "hw/sata.h"

namespace kvq::disks {

enum class Kind : uint8_t { kChipsetPort, kAhciPort, kNvmeNamespace };

struct Disk {
  Kind kind;
  pci::Bdf function;  // the controller's
  int port;           // AHCI
  int controller;     // NVMe: the firmware's controller number
  uint32_t nsid;      // NVMe
};

inline constexpr int kMaxDisks = 64;

struct List {
  Disk disks[kMaxDisks] = {};
  int count = 0;
};

// The list the HDD page steps through, found when the menu opens it.
extern List g_disks;

// Ports 0 to 7 of 0:31:2 when its mode select answers AHCI or RAID
// (`chipset_ahci`); then the implemented ports of every other function of
// `table` with class 01h, subclass 06h, interface 01h (AHCI); then the
// namespaces of the firmware's NVM Express controllers. The firmware's ATA
// pass-thru instances are walked again as well.
void find(const pci::DeviceTable& table, bool chipset_ahci, List& list);

// Asks the disk who it is: IDENTIFY DEVICE for an AHCI port (hw/sata),
// Identify Controller and Identify Namespace through the firmware for NVM
// Express, into kvq's own buffer: its address and how it went.
sata::Probe identify(const Disk& disk);

// The NVM Express answers at `buffer`: the controller's model (bytes
// 24-63) and serial number (4-23) and the namespace's size (NSZE blocks of
// the LBA format in use, FLBAS), in decimal gigabytes.
struct NvmeIdentity {
  bool present;
  char16_t model[41];
  char16_t serial[21];
  uint64_t gigabytes;
};
NvmeIdentity read_nvme(uint32_t buffer);

// The NVM Express buffer is taken on first use and given back here.
void free_buffers();

}  // namespace kvq::disks
