#include "hw/sata.h"

#include "hw/ahci_regs.h"
#include "hw/pci.h"
#include "platform/firmware.h"
#include "hw/phys.h"
#include "platform/ata.h"
#include "platform/hw.h"

namespace kvq::sata {

ModeQuery mode_query() {
  ModeQuery q;
  pci::PortsSection section(kController, ModeSelect::kOffset);
  q.dword = section.read(4);
  q.low_byte = static_cast<uint8_t>(section.read(1));
  q.mode_bits = section.read(4) & ModeSelect::Mode::kMask;
  q.mode = static_cast<int>(ModeSelect::Mode::get(q.mode_bits));
  return q;
}

namespace {

using ahci::CommandHeader;
using ahci::CommandTable;
using ahci::Prd;
using ahci::PxCmd;

constinit uint32_t g_identify_buffer = 0;
// A port that would not stop may still write into the buffer: it is then
// never given back to the firmware.
constinit bool g_buffer_pinned = false;

constexpr uint32_t kSettleUs = 10;
constexpr uint32_t kPollUs = 100;
// A disk answers IDENTIFY DEVICE from its own memory, well within this.
constexpr uint32_t kAnswerLimitUs = 100 * 1000;
// The HBA sets and clears CR and FR within 500 ms of ST and FRE.
constexpr uint32_t kEngineLimitUs = 500 * 1000;

// Slot 0's header: a 5-dword Register H2D FIS, one PRD entry, data from the
// device to the host; no ATAPI, reset, BIST or port multiplier.
constexpr uint32_t kIdentifyHeader =
    CommandHeader::Prdtl::with(CommandHeader::Cfl::with(0, ahci::kRegisterH2DDwords), 1);
// 512 bytes, interrupt on completion.
constexpr uint32_t kIdentifyByteCount = Prd::I::with(Prd::Dbc::with(0, ata::kIdentifyBytes - 1), 1);
constexpr uint8_t kFre = PxCmd::Fre::kMask;
constexpr uint8_t kSt = PxCmd::St::kMask;

// --- The firmware's ATA pass-thru -------------------------------------------

struct AtaDisk {
  uint16_t port;
  uint16_t multiplier_port;
};
struct Covered {
  plat::AtaController controller;
  int disks;
  AtaDisk disk[ahci::kMaxPorts];
};
constinit Covered g_covered[plat::kMaxAtaControllers] = {};
constinit int g_covered_count = -1;  // not walked yet

// The protocol keeps its walk's place, so each port's disks are walked to
// their end before the next port is asked for.
void walk_disks(int c, Covered& cov) {
  cov.disks = 0;
  uint16_t port = 0xFFFF;
  for (int ports = 0; ports < ahci::kMaxPorts && plat::ata_next_port(c, &port); ++ports) {
    uint16_t mp = plat::kNoMultiplier;
    for (int n = 0; n < 16 && plat::ata_next_device(c, port, &mp); ++n) {
      if (cov.disks < ahci::kMaxPorts) cov.disk[cov.disks++] = {port, mp};
    }
  }
}

// The pass-thru instance that covers `f`, or -1.
int covering(const pci::Bdf& f) {
  if (g_covered_count < 0) find_pass_thru();
  const plat::PciLocation where = {f.segment, f.bus, f.device, f.function};
  for (int c = 0; c < g_covered_count; ++c) {
    if (g_covered[c].controller.location == where) return c;
  }
  return -1;
}

Probe pass_thru_identify(int c, int port) {
  const Covered& cov = g_covered[c];
  for (int i = 0; i < cov.disks; ++i) {
    if (cov.disk[i].port != port) continue;
    if (plat::ata_identify(c, cov.disk[i].port, cov.disk[i].multiplier_port, g_identify_buffer)) {
      return {g_identify_buffer, Outcome::kAnswered, Path::kAtaPassThru};
    }
    return {kNoDevice, Outcome::kNoDisk, Path::kAtaPassThru};
  }
  return {};  // the driver found no ATA disk there: nothing to ask
}

// --- kvq's own command in slot 0 ---------------------------------------------

// Where slot 0 of a port lives, as the firmware's driver set it up: the
// port's registers, command header 0 at PxCLB and its command table at
// CTBA, each a span the page tables map writable; and PxCMD as found.
struct Slot0 {
  phys::Span port;
  phys::Span header;
  phys::Span table;
  uint32_t found_cmd;
};

// The command table up to the end of PRD entry 0.
constexpr uint64_t kTableBytes = CommandTable::kPrd0 + 16;
constexpr uint64_t kHeaderBytes = 32;

// A base address the firmware has filled in: neither 0 nor all ones (an
// absent function or a register never written), and below 4 GiB.
bool in_reach(uint32_t low, uint32_t high) { return low != 0 && low != 0xFFFFFFFFu && high == 0; }

// A port that takes a command of kvq's now: nothing issued or queued, the
// disk neither busy nor asking for data, no error waiting for the
// firmware's recovery, no engine still stopping, and never ST without FRE
// (AHCI forbids it; clearing FRE back would break its order again).
Outcome port_state(const phys::Span& port, uint32_t cmd) {
  if (PxCmd::St::get(cmd) != 0 && PxCmd::Fre::get(cmd) == 0) return Outcome::kStartedWithoutFis;
  const uint32_t tfd = port.read32(ahci::PxTfd::kOffset);
  const bool idle = port.read32(ahci::kPxCi) == 0 && port.read32(ahci::kPxSact) == 0 &&
                    ahci::PxTfd::Bsy::get(tfd) == 0 && ahci::PxTfd::Drq::get(tfd) == 0 &&
                    (port.read32(ahci::kPxIs) & ahci::PxIs::kFatal) == 0;
  const bool stopping = (PxCmd::St::get(cmd) == 0 && PxCmd::Cr::get(cmd) != 0) ||
                        (PxCmd::Fre::get(cmd) == 0 && PxCmd::Fr::get(cmd) != 0);
  return idle && !stopping ? Outcome::kAnswered : Outcome::kBusy;
}

// Follows the function's class and command register, ABAR, PxCLB and
// CTBA, reading only. kAnswered when they lead to an implemented port with
// an ATA disk on its link, a received-FIS area and a command table, all
// below 4 GiB and mapped, on an HBA the firmware has handed over, and the
// port is idle; otherwise why not.
Outcome find_slot0(const pci::Bdf& controller, int index, Slot0* slot) {
  using C = pci::hdr::Command;
  if (index < 0 || index >= ahci::kMaxPorts) return Outcome::kNoDisk;
  const uint32_t command = pci::read<C>(controller);
  if (C::MemorySpace::get(command) == 0 || C::BusMaster::get(command) == 0) return Outcome::kDecodeOff;
  uint32_t abar = 0;
  if (!abar_of(controller, &abar)) return Outcome::kNoDisk;
  const phys::Span ghc(abar, ahci::kFirstPort);
  if (!ghc.ok() || ((ghc.read32(ahci::kPi) >> index) & 1) == 0) return Outcome::kNoDisk;
  if (ahci::Bohc::Bos::get(ghc.read32(ahci::Bohc::kOffset)) != 0) return Outcome::kFirmwareOwned;
  const phys::Span port(uint64_t{abar} + ahci::port_offset(index), ahci::kPortStride, paging::Access::kWrite);
  if (!port.ok() || ahci::PxSsts::Det::get(port.read32(ahci::PxSsts::kOffset)) != ahci::PxSsts::kDetPresent ||
      port.read32(ahci::kPxSig) != ahci::kSigAta) {
    return Outcome::kNoDisk;
  }
  const uint32_t clb = port.read32(ahci::kPxClb);
  if (!in_reach(clb, port.read32(ahci::kPxClbu))) return Outcome::kNoDisk;
  const uint32_t fb = port.read32(ahci::kPxFb);
  if (!in_reach(fb, port.read32(ahci::kPxFbu))) return Outcome::kNoDisk;
  const uint32_t cmd = port.read32(PxCmd::kOffset);
  if (const Outcome state = port_state(port, cmd); state != Outcome::kAnswered) return state;
  const phys::Span header(clb, kHeaderBytes, paging::Access::kWrite);
  if (!header.ok()) return Outcome::kNoDisk;
  const uint32_t ctba = header.read32(CommandHeader::kCtba);
  if (!in_reach(ctba, header.read32(CommandHeader::kCtbau))) return Outcome::kNoDisk;
  const phys::Span table(ctba, kTableBytes, paging::Access::kWrite);
  if (!table.ok()) return Outcome::kNoDisk;
  *slot = Slot0{port, header, table, cmd};
  return Outcome::kAnswered;
}

void write_and_settle(const phys::Span& span, uint64_t offset, uint8_t value) {
  span.write8(offset, value);
  plat::stall_us(kSettleUs);
}

// What IDENTIFY changes of slot 0, as the firmware's driver left it: header
// DW0 and the byte count the HBA writes into DW1, the FIS's type, flags and
// command, PRD entry 0's address and byte count.
struct SavedSlot {
  uint32_t dw0, dw1;
  uint8_t fis[3];
  uint32_t dba, dbau, dbc;
};
constexpr uint32_t kFisBytes[3] = {CommandTable::kFisType, CommandTable::kFisFlags, CommandTable::kFisCommand};

SavedSlot save(const Slot0& s) {
  constexpr uint32_t prd = CommandTable::kPrd0;
  SavedSlot v = {s.header.read32(CommandHeader::kDw0), s.header.read32(CommandHeader::kDw0 + 4), {},
                 s.table.read32(prd + Prd::kDba), s.table.read32(prd + Prd::kDbau), s.table.read32(prd + Prd::kDbc)};
  for (int i = 0; i < 3; ++i) v.fis[i] = s.table.read8(kFisBytes[i]);
  return v;
}

void put_back(const Slot0& s, const SavedSlot& v) {
  constexpr uint32_t prd = CommandTable::kPrd0;
  s.header.write32(CommandHeader::kDw0, v.dw0);
  s.header.write32(CommandHeader::kDw0 + 4, v.dw1);
  for (int i = 0; i < 3; ++i) s.table.write8(kFisBytes[i], v.fis[i]);
  s.table.write32(prd + Prd::kDba, v.dba);
  s.table.write32(prd + Prd::kDbau, v.dbau);
  s.table.write32(prd + Prd::kDbc, v.dbc);
}

// Slot 0 becomes IDENTIFY DEVICE into `buffer` (the address the controller
// was given for kvq's page). The header and PRD entry 0 are made whole: the
// firmware's last command may have been a write, or have had several PRD
// entries.
void build_identify(const Slot0& s, uint64_t buffer) {
  constexpr uint32_t prd = CommandTable::kPrd0;
  s.header.write32(CommandHeader::kDw0, kIdentifyHeader);
  s.table.write32(prd + Prd::kDba, static_cast<uint32_t>(buffer));
  s.table.write32(prd + Prd::kDbau, static_cast<uint32_t>(buffer >> 32));
  write_and_settle(s.table, CommandTable::kFisType, ahci::kFisRegisterH2D);
  write_and_settle(s.table, CommandTable::kFisFlags, ahci::kFisCommandBit);
  write_and_settle(s.table, CommandTable::kFisCommand, ata::kIdentifyDevice);
  for (uint32_t i = 0; i < 4; ++i) {
    write_and_settle(s.table, prd + Prd::kDbc + i, static_cast<uint8_t>(kIdentifyByteCount >> (8 * i)));
  }
}

// Slot 0's bit in PxCI clears when the device has answered. A fatal error
// (the device's abort, a DMA the host refused) stops the HBA with the bit
// still set, and ends the wait at once.
bool wait_for_answer(const phys::Span& port) {
  for (uint32_t waited = 0;; waited += kPollUs) {
    if ((port.read32(ahci::kPxCi) & 1) == 0) return ahci::PxTfd::Err::get(port.read32(ahci::PxTfd::kOffset)) == 0;
    if ((port.read32(ahci::kPxIs) & ahci::PxIs::kFatal) != 0) return false;
    if (waited >= kAnswerLimitUs) return false;
    plat::stall_us(kPollUs);
  }
}

// Polls a PxCMD bit until it reads `set` (or 500 ms have gone by).
bool wait_for_bit(const phys::Span& port, uint32_t mask, bool set) {
  for (uint32_t waited = 0;; waited += kPollUs) {
    if (((port.read32(PxCmd::kOffset) & mask) != 0) == set) return true;
    if (waited >= kEngineLimitUs) return false;
    plat::stall_us(kPollUs);
  }
}

// Sets or clears one bit of PxCMD's low byte (read, change, write), then
// waits for the engine it drives to follow: FRE drives FR, ST drives CR.
bool drive(const phys::Span& port, uint8_t bit, bool on, uint32_t running) {
  const uint8_t now = port.read8(PxCmd::kOffset);
  write_and_settle(port, PxCmd::kOffset, static_cast<uint8_t>(on ? now | bit : now & ~bit));
  return wait_for_bit(port, running, on);
}

// Writes back the write-1-to-clear bits a register holds.
void clear_latched(const phys::Span& port, uint32_t offset, uint32_t keep = 0) {
  const uint32_t bits = port.read32(offset) & ~keep;
  if (bits != 0) port.write32(offset, bits);
}

// ST off, and the command list stopped (CR clear).
bool stop_list(const phys::Span& port) {
  if (PxCmd::St::get(port.read32(PxCmd::kOffset)) == 0) return wait_for_bit(port, PxCmd::Cr::kMask, false);
  return drive(port, kSt, false, PxCmd::Cr::kMask);
}

// FRE is cleared only once ST is clear and the command list has stopped
// (the callers see to it): the one order AHCI allows.
void restore_fre(const phys::Span& port, uint32_t found_cmd) {
  if (PxCmd::Fre::get(found_cmd) == 0 && PxCmd::Fre::get(port.read32(PxCmd::kOffset)) != 0) {
    drive(port, kFre, false, PxCmd::Fr::kMask);
  }
}

// After a command that failed (AHCI 1.3.1, 6.2.2): ST off and the list
// stopped, which empties PxCI; the errors latched in PxSERR, then PxIS,
// cleared; and, unless the disk is still busy, the engines as found. A
// disk left BSY or DRQ would need a COMRESET, which kvq does not send to
// the firmware's disk: the port stays stopped.
Outcome recover(const phys::Span& port, uint32_t found_cmd) {
  if (!stop_list(port)) return Outcome::kNotStopping;
  clear_latched(port, ahci::kPxSerr);
  clear_latched(port, ahci::kPxIs);
  const uint32_t tfd = port.read32(ahci::PxTfd::kOffset);
  if (ahci::PxTfd::Bsy::get(tfd) != 0 || ahci::PxTfd::Drq::get(tfd) != 0) return Outcome::kLeftBusy;
  restore_fre(port, found_cmd);
  if (PxCmd::St::get(found_cmd) != 0) drive(port, kSt, true, PxCmd::Cr::kMask);
  return Outcome::kNoDisk;
}

// The firmware's driver starts the port for each command of its own and
// stops it afterwards (OVMF leaves ST and FRE clear): it must find the port
// as it left it, and its status without kvq's completion bits.
Outcome finish(const phys::Span& port, uint32_t found_cmd, uint32_t is_before) {
  clear_latched(port, ahci::kPxIs, is_before);
  if (PxCmd::St::get(found_cmd) == 0 && !stop_list(port)) return Outcome::kAnswered;
  restore_fre(port, found_cmd);
  return Outcome::kAnswered;
}

Probe raw_identify(const pci::Bdf& controller, int index) {
  Slot0 slot;
  if (const Outcome gate = find_slot0(controller, index, &slot); gate != Outcome::kAnswered) return {kNoDevice, gate};
  // Under pre-boot DMA protection the controller reaches only what was
  // mapped for it.
  plat::DmaMapping dma;
  const plat::PciLocation where = {controller.segment, controller.bus, controller.device, controller.function};
  if (!plat::dma_map_for_device_writes(where, g_identify_buffer, ata::kIdentifyBytes, &dma)) {
    return {kNoDevice, Outcome::kNotMapped};
  }
  const phys::Span& port = slot.port;
  const SavedSlot saved = save(slot);
  const uint32_t is_before = port.read32(ahci::kPxIs);
  build_identify(slot, dma.device_address);
  // FIS receive on, then the command list engine, each waited for, and
  // only then the command: a controller takes PxCI only while ST is set.
  bool answered = false;
  if ((PxCmd::Fre::get(slot.found_cmd) != 0 || drive(port, kFre, true, PxCmd::Fr::kMask)) &&
      (PxCmd::St::get(slot.found_cmd) != 0 || drive(port, kSt, true, PxCmd::Cr::kMask))) {
    port.write32(ahci::kPxCi, 1);
    plat::stall_us(kSettleUs);
    answered = wait_for_answer(port);
  }
  const Outcome outcome = answered ? finish(port, slot.found_cmd, is_before) : recover(port, slot.found_cmd);
  if (outcome == Outcome::kNotStopping) {
    // The HBA may still fetch slot 0 and write into the buffer.
    g_buffer_pinned = true;
    return {kNoDevice, outcome, Path::kAhciSlot0};
  }
  put_back(slot, saved);
  plat::dma_unmap(dma);
  return {answered ? g_identify_buffer : kNoDevice, outcome, Path::kAhciSlot0};
}

// SATA controllers whose ports the firmware's pass-thru numbers as AHCI
// ports: AHCI (01 06) and Intel's RAID mode (01 04), which keeps the AHCI
// port registers.
bool port_addressed(uint32_t class_rev) {
  using C = pci::hdr::ClassRevision;
  return C::BaseClass::get(class_rev) == 0x01 && (C::SubClass::get(class_rev) == 0x06 || C::SubClass::get(class_rev) == 0x04);
}
bool ahci_class(uint32_t class_rev) { return (class_rev >> 8) == 0x010601u; }

// Why a probe said nothing of the disk, when it is not the plain absence.
struct OutcomeRow {
  Outcome outcome;
  const char16_t* text;
};
constexpr OutcomeRow kOutcomeText[] = {
    {Outcome::kAnswered, nullptr},
    {Outcome::kNoDisk, nullptr},
    {Outcome::kDecodeOff, u"Not asked: the controller's memory space or bus mastering is off"},
    {Outcome::kFirmwareOwned, u"Not asked: the firmware owns the HBA (BOHC.BOS is set)"},
    {Outcome::kBusy, u"Not asked: the port is busy (a command issued, BSY or DRQ, or an error pending)"},
    {Outcome::kStartedWithoutFis, u"Not asked: PxCMD has ST set with FRE clear, which AHCI forbids"},
    {Outcome::kNotMapped, u"Not asked: the firmware would not map the buffer for DMA (PciIo.Map)"},
    {Outcome::kLeftBusy, u"IDENTIFY failed and the disk stays busy: the port is left stopped"},
    {Outcome::kNotStopping, u"IDENTIFY failed and the port does not stop (PxCMD.CR): left alone"},
};
constexpr bool rows_in_order() {
  for (int i = 0; i < kOutcomes; ++i) {
    if (static_cast<int>(kOutcomeText[i].outcome) != i) return false;
  }
  return sizeof kOutcomeText / sizeof kOutcomeText[0] == kOutcomes;
}
static_assert(rows_in_order(), "one row per outcome, in the enum's order");

}  // namespace

const char16_t* outcome_text(Outcome outcome) {
  const int i = static_cast<int>(outcome);
  return i >= 0 && i < kOutcomes ? kOutcomeText[i].text : nullptr;
}

void allocate_identify_buffer() { g_identify_buffer = plat::allocate_pages_below_4g(1); }

void free_identify_buffer() {
  if (g_identify_buffer != 0 && !g_buffer_pinned) plat::free_pages(g_identify_buffer, 1);
  g_identify_buffer = 0;
  g_buffer_pinned = false;
  g_covered_count = -1;
}

void find_pass_thru() {
  plat::AtaController found[plat::kMaxAtaControllers];
  g_covered_count = plat::ata_controllers(found);
  for (int c = 0; c < g_covered_count; ++c) {
    g_covered[c].controller = found[c];
    walk_disks(c, g_covered[c]);
  }
}

bool abar_of(const pci::Bdf& controller, uint32_t* abar) {
  const uint32_t bar = pci::read<Abar>(controller);
  *abar = bar & Abar::Address::kMask;
  return Abar::IoSpace::get(bar) == 0 && Abar::Type::get(bar) == 0 && in_reach(bar, 0) &&
         *abar != Abar::Address::kMask && *abar != 0;
}

uint32_t implemented_ports(const pci::Bdf& controller) {
  uint32_t abar = 0;
  if (!abar_of(controller, &abar)) return 0;
  const phys::Span ghc(abar, ahci::kFirstPort);
  return ghc.ok() ? ghc.read32(ahci::kPi) : 0;
}

Probe probe(const pci::Bdf& controller, int port) {
  // What the function is, before anything else is read of it.
  const uint32_t class_rev = pci::read<pci::hdr::ClassRevision>(controller);
  if (g_identify_buffer == 0 || !port_addressed(class_rev)) return {};
  if (const int c = covering(controller); c >= 0) return pass_thru_identify(c, port);
  if (!ahci_class(class_rev)) return {};
  // The firmware's own disk driver must not start a transfer of its own on
  // the port meanwhile.
  const uintptr_t old_tpl = plat::raise_tpl(plat::kTplNotify);
  const Probe p = raw_identify(controller, port);
  plat::restore_tpl(old_tpl);
  return p;
}

Probe probe_port(uint16_t port_offset) {
  const uint32_t offset = port_offset;
  if (offset < ahci::kFirstPort || (offset - ahci::kFirstPort) % ahci::kPortStride != 0) return {};
  return probe(kController, static_cast<int>((offset - ahci::kFirstPort) / ahci::kPortStride));
}

namespace {

// Bytes are widened as they are; only control characters, which would move
// the console's cursor or end the string, become blanks.
char16_t model_char(uint8_t b) { return b < 0x20 ? u' ' : static_cast<char16_t>(b); }

uint64_t gigabytes(uint64_t sectors) { return sectors * 512 / 1000 / 1000 / 1000; }

}  // namespace

// A buffer address typed by hand may point anywhere: the answer is read
// only where it is mapped (and reads as all ones elsewhere).
DiskModel read_model(uint32_t buffer) {
  DiskModel m = {};
  m.present = !is_no_device(buffer);
  if (!m.present) return m;
  const phys::Span answer(buffer, ata::kIdentifyBytes);
  for (int i = 0; i < ata::kModelShown; i += 2) {
    // Two characters a word, the first in its high byte.
    const uint32_t word = ata::kModel + static_cast<uint32_t>(i);
    m.text[i] = model_char(answer.read8(word + 1));
    m.text[i + 1] = model_char(answer.read8(word));
  }
  return m;
}

DiskSize read_size(uint32_t buffer) {
  DiskSize d = {};
  d.present = !is_no_device(buffer);
  if (!d.present) return d;
  const phys::Span answer(buffer, ata::kIdentifyBytes);
  d.gigabytes = gigabytes(answer.read32(ata::kSectors28));
  // The 28-bit count stops at 0x0FFFFFFF sectors, 137 G; a disk that reaches
  // it has its size in the 48-bit count.
  if (d.gigabytes >= 137) d.gigabytes = gigabytes(answer.read(ata::kSectors48, 8));
  return d;
}

}  // namespace kvq::sata
