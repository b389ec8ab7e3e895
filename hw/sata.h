// The chipset's SATA controller at 0:31:2.
#pragma once
#include <stdint.h>

#include "hw/ahci_regs.h"
#include "hw/pci.h"

namespace kvq::sata {

// The chipset's SATA controller: bus 0, device 31, function 2.
inline constexpr pci::Bdf kController = {0, 0, 31, 2};

// The SATA mode select register of Intel ICH and PCH controllers (its
// "MAP" register): bits 7:6 are 0 IDE, 1 AHCI, 2 RAID, 3 reserved.
struct ModeSelect : reg::Register<0x90, 4> {
  using Mode = reg::Field<7, 6>;
};
static_assert(reg::fields_fit<ModeSelect, ModeSelect::Mode>());
// ABAR, the AHCI base address: BAR5 of the controller, a 32-bit memory BAR.
struct Abar : reg::Register<0x24, 4> {
  using Address = reg::Field<31, 4>;
  using Type = reg::Field<2, 1>;     // 0: 32-bit memory
  using IoSpace = reg::Field<0, 0>;  // set: an I/O BAR (IDE mode)
};
static_assert(reg::fields_fit<Abar, Abar::Address, Abar::Type, Abar::IoSpace>());

// The controller's register block, when its ABAR is a 32-bit memory BAR
// that holds an address. An I/O BAR (a controller in IDE mode) is never
// followed as memory.
bool abar_of(const pci::Bdf& controller, uint32_t* abar);
// Its ports implemented (PI), bit n for port n; 0 without an ABAR.
uint32_t implemented_ports(const pci::Bdf& controller);

// The mode register as the query reads it, under one address: the dword,
// the data port's low byte, and the dword again for the mode bits.
struct ModeQuery {
  uint32_t dword;
  uint8_t low_byte;
  uint32_t mode_bits;  // bits 7:6 of the second dword, in place
  int mode;            // 0 to 3
};
ModeQuery mode_query();

// Only in AHCI and RAID mode does the controller have the port registers the
// disk page reads.
inline bool mode_allows_disk_page(int mode) { return mode == 1 || mode == 2; }

// Port register offsets from ABAR, as the HDD page steps them: ports 0 to 7.
inline constexpr uint16_t kPort0Offset = static_cast<uint16_t>(ahci::port_offset(0));
inline constexpr uint16_t kPort7Offset = static_cast<uint16_t>(ahci::port_offset(7));
inline constexpr uint16_t kPortOffsetStep = static_cast<uint16_t>(ahci::kPortStride);
inline constexpr int port_number(uint16_t offset) { return (offset - kPort0Offset) / kPortOffsetStep; }

// Buffer addresses that mean "no disk answered". All ones is what the probe
// returns, and what an absent controller or an unset register reads. The
// other two are real-mode interrupt vectors (segment:offset, F000:EEF3 the
// legacy BIOS's default handler): what a chain of AHCI pointers followed
// from a command list base of 0 reads out of the vector table at address 0
// on a board with a compatibility BIOS. kvq no longer follows such a chain,
// but a buffer address typed or read equal to them still means no disk.
inline constexpr uint32_t kNoDevice = 0xFFFFFFFFu;
inline constexpr bool is_no_device(uint32_t buffer) {
  return buffer == 0x00780003u || buffer == 0xF000EEF3u || buffer == kNoDevice;
}

// The page of memory below 4 GiB that every IDENTIFY answer lands in: taken
// once at start-up, given back at exit.
void allocate_identify_buffer();
void free_identify_buffer();

// How an IDENTIFY DEVICE went: answered, no ATA disk (or no answer), or
// refused before any write because the port was not in a state to take a
// command of kvq's, or left as it stood after a failure.
enum class Outcome : uint8_t {
  kAnswered,
  kNoDisk,
  kDecodeOff,         // PCI Command: memory space or bus master off
  kFirmwareOwned,     // BOHC.BOS: the firmware still owns the HBA
  kBusy,              // commands outstanding, BSY or DRQ, an engine stopping, an error latched
  kStartedWithoutFis, // ST set with FRE clear
  kNotMapped,         // PciIo.Map refused kvq's buffer
  kLeftBusy,          // failed, and the disk stays BSY or DRQ: the port left stopped
  kNotStopping,       // failed, and the command list does not stop: left alone
};
inline constexpr int kOutcomes = 9;
// Who ran the command: the firmware's ATA or NVM Express pass-thru, or kvq
// in slot 0 of the port's command list.
enum class Path : uint8_t { kNone, kAtaPassThru, kAhciSlot0, kNvmePassThru };

struct Probe {
  uint32_t buffer = kNoDevice;  // the answer, when answered
  Outcome outcome = Outcome::kNoDisk;
  Path path = Path::kNone;
};

// Row 18's words for an outcome that is neither an answer nor a plain
// "no device"; null for those.
const char16_t* outcome_text(Outcome outcome);

// Walks the firmware's ATA pass-thru instances again (the HDD page's list
// does when the menu opens it; a probe does once if nothing has).
void find_pass_thru();

// IDENTIFY DEVICE on port `port` of the AHCI controller. Through the
// firmware's ATA pass-thru when one covers the controller's function;
// otherwise, and only on a function of class 010601h with memory space and
// bus mastering on, kvq's own command in slot 0 of the command list the
// firmware's driver set up, into kvq's buffer mapped for the controller
// with PciIo.Map, on a port found idle (see Outcome), and put back as found:
// command header 0, its command table, ST and FRE, with PxIS and PxSERR
// cleared after a failure (AHCI 1.3.1, 6.2.2).
Probe probe(const pci::Bdf& controller, int port);
// The same on the chipset's controller, the port named by its register
// offset from ABAR (0x100 + 0x80 x port), as the HDD page keeps it.
Probe probe_port(uint16_t port_offset);

// What the IDENTIFY DEVICE answer at `buffer` says of the disk. Its model
// and its size are read separately, each when the page shows it.
struct DiskModel {
  bool present;                         // false for a no-device buffer
  char16_t text[ata::kModelShown + 1];  // words 27-45, control bytes as blanks
};
struct DiskSize {
  bool present;
  uint64_t gigabytes;  // decimal gigabytes, rounded down
};
DiskModel read_model(uint32_t buffer);
DiskSize read_size(uint32_t buffer);

}  // namespace kvq::sata
