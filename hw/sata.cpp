#include "hw/sata.h"

#include "hw/ahci_regs.h"
#include "hw/pci.h"
#include "platform/firmware.h"
#include "hw/phys.h"
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

// Where slot 0 of a port lives, as the firmware's driver set it up: the
// port's registers, command header 0 at PxCLB and its command table at
// CTBA, each a span the page tables map writable.
struct Slot0 {
  phys::Span port;
  phys::Span header;
  phys::Span table;
};

// The command table up to the end of PRD entry 0.
constexpr uint64_t kTableBytes = CommandTable::kPrd0 + 16;
constexpr uint64_t kHeaderBytes = 32;

// A base address the firmware has filled in: neither 0 nor all ones (an
// absent function or a register never written), and below 4 GiB.
bool in_reach(uint32_t low, uint32_t high) { return low != 0 && low != 0xFFFFFFFFu && high == 0; }

// Follows ABAR, PxCLB and CTBA, reading only. False unless they lead to an
// implemented port with a device on its link, a received-FIS area (FRE is
// about to be set) and a command table, all below 4 GiB and mapped, and
// slot 0 is not running a command of the firmware's own.
bool find_slot0(const pci::Bdf& controller, int index, Slot0* slot) {
  if (index < 0 || index >= ahci::kMaxPorts) return false;
  uint32_t abar = 0;
  if (!abar_of(controller, &abar)) return false;
  const phys::Span ghc(abar, ahci::kFirstPort);
  if (!ghc.ok() || ((ghc.read32(ahci::kPi) >> index) & 1) == 0) return false;
  const phys::Span port(uint64_t{abar} + ahci::port_offset(index), ahci::kPortStride, paging::Access::kWrite);
  if (!port.ok() || ahci::PxSsts::Det::get(port.read32(ahci::PxSsts::kOffset)) != ahci::PxSsts::kDetPresent) {
    return false;
  }
  const uint32_t clb = port.read32(ahci::kPxClb);
  if (!in_reach(clb, port.read32(ahci::kPxClbu))) return false;
  const uint32_t fb = port.read32(ahci::kPxFb);
  if (!in_reach(fb, port.read32(ahci::kPxFbu))) return false;
  if ((port.read32(ahci::kPxCi) & 1) != 0) return false;
  const phys::Span header(clb, kHeaderBytes, paging::Access::kWrite);
  if (!header.ok()) return false;
  const uint32_t ctba = header.read32(CommandHeader::kCtba);
  if (!in_reach(ctba, header.read32(CommandHeader::kCtbau))) return false;
  const phys::Span table(ctba, kTableBytes, paging::Access::kWrite);
  if (!table.ok()) return false;
  *slot = Slot0{port, header, table};
  return true;
}

void write_and_settle(const phys::Span& span, uint64_t offset, uint8_t value) {
  span.write8(offset, value);
  plat::stall_us(kSettleUs);
}

// Slot 0 becomes IDENTIFY DEVICE into `buffer`. The header and PRD entry 0
// are made whole: the firmware's last command may have been a write, or
// have had several PRD entries, and entry 0 points at that command's data,
// a buffer that may have been freed since.
void build_identify(const Slot0& s, uint32_t buffer) {
  constexpr uint32_t prd = CommandTable::kPrd0;
  s.header.write32(CommandHeader::kDw0, kIdentifyHeader);
  s.table.write32(prd + Prd::kDba, buffer);
  s.table.write32(prd + Prd::kDbau, 0);
  write_and_settle(s.table, CommandTable::kFisType, ahci::kFisRegisterH2D);
  write_and_settle(s.table, CommandTable::kFisFlags, ahci::kFisCommandBit);
  write_and_settle(s.table, CommandTable::kFisCommand, ata::kIdentifyDevice);
  for (uint32_t i = 0; i < 4; ++i) {
    write_and_settle(s.table, prd + Prd::kDbc + i, static_cast<uint8_t>(kIdentifyByteCount >> (8 * i)));
  }
}

// Slot 0's bit in PxCI clears when the device has answered. A task-file
// error stops the HBA with the bit still set; its TFES flag ends the wait at
// once, unless it was already set before the command was issued.
bool wait_for_answer(const phys::Span& port, bool tfes_before) {
  for (uint32_t waited = 0;; waited += kPollUs) {
    if ((port.read32(ahci::kPxCi) & 1) == 0) return ahci::PxTfd::Err::get(port.read32(ahci::PxTfd::kOffset)) == 0;
    if (!tfes_before && ahci::PxIs::Tfes::get(port.read32(ahci::kPxIs)) != 0) return false;
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

// The firmware's driver starts the port for each command of its own and
// stops it afterwards (OVMF leaves ST and FRE clear): it must find the port
// as it left it. A command that did not complete is taken out of slot 0 by
// stopping the port; a port the firmware had running is then started
// again. ST goes first, and FRE may be cleared only once the command list
// has stopped running.
void leave_port(const phys::Span& port, uint8_t found_cmd, bool answered) {
  const bool was_running = (found_cmd & kSt) != 0;
  if (!answered || !was_running) {
    if (!drive(port, kSt, false, PxCmd::Cr::kMask)) return;
  }
  if ((found_cmd & kFre) == 0) drive(port, kFre, false, PxCmd::Fr::kMask);
  if (!answered && was_running) drive(port, kSt, true, PxCmd::Cr::kMask);
}

uint32_t identify(const pci::Bdf& controller, int index) {
  Slot0 slot;
  if (g_identify_buffer == 0 || !find_slot0(controller, index, &slot)) return kNoDevice;
  const phys::Span& port = slot.port;
  const bool tfes_before = ahci::PxIs::Tfes::get(port.read32(ahci::kPxIs)) != 0;
  build_identify(slot, g_identify_buffer);
  // FIS receive on, then the command list engine, each waited for, and
  // only then the command: a controller takes PxCI only while ST is set.
  const uint8_t found_cmd = port.read8(PxCmd::kOffset);
  bool answered = false;
  if (drive(port, kFre, true, PxCmd::Fr::kMask) && drive(port, kSt, true, PxCmd::Cr::kMask)) {
    write_and_settle(port, ahci::kPxCi, static_cast<uint8_t>(port.read8(ahci::kPxCi) | 1));
    answered = wait_for_answer(port, tfes_before);
  }
  leave_port(port, found_cmd, answered);
  return answered ? g_identify_buffer : kNoDevice;
}

}  // namespace

void allocate_identify_buffer() { g_identify_buffer = plat::allocate_pages_below_4g(1); }

void free_identify_buffer() {
  if (g_identify_buffer != 0) plat::free_pages(g_identify_buffer, 1);
  g_identify_buffer = 0;
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

uint32_t probe(const pci::Bdf& controller, int port) {
  // The firmware's own disk driver must not start a transfer of its own on
  // the port meanwhile.
  const uintptr_t old_tpl = plat::raise_tpl(plat::kTplNotify);
  const uint32_t buffer = identify(controller, port);
  plat::restore_tpl(old_tpl);
  return buffer;
}

uint32_t probe_port(uint16_t port_offset) {
  const uint32_t offset = port_offset;
  if (offset < ahci::kFirstPort || (offset - ahci::kFirstPort) % ahci::kPortStride != 0) return kNoDevice;
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
