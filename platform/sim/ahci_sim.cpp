#include "platform/sim/ahci_sim.h"

#include <algorithm>

#include "hw/ahci_regs.h"

namespace kvq::sim {
namespace {

// PxCMD bits (AHCI 1.3.1, 3.3.7).
constexpr uint32_t kSt = 1u << 0;
constexpr uint32_t kClo = 1u << 3;
constexpr uint32_t kFre = 1u << 4;
constexpr uint32_t kFr = 1u << 14;
constexpr uint32_t kCr = 1u << 15;
constexpr uint32_t kCmdWritable = 0x1F;  // ST, SUD, POD, CLO, FRE
// PxIS bits.
constexpr uint32_t kDhrs = 1u << 0;
constexpr uint32_t kPss = 1u << 1;
constexpr uint32_t kHbfs = 1u << 29;
constexpr uint32_t kTfes = 1u << 30;
constexpr uint32_t kFatal = 0x78000000u;  // TFES, HBFS, HBDS, IFS
// PxSERR.ERR.E: an internal error, a master abort on a DMA among them.
constexpr uint32_t kSerrInternal = 1u << 11;

void put_word(uint8_t* out, int word, uint16_t v) {
  out[2 * word] = static_cast<uint8_t>(v);
  out[2 * word + 1] = static_cast<uint8_t>(v >> 8);
}

// ATA strings: two characters a word, the first in the high byte.
void put_string(uint8_t* out, int first_word, int words, const std::string& s) {
  for (int i = 0; i < 2 * words; ++i) {
    const uint8_t c = i < static_cast<int>(s.size()) ? static_cast<uint8_t>(s[static_cast<size_t>(i)]) : ' ';
    out[2 * first_word + (i ^ 1)] = c;
  }
}

}  // namespace

void identify_answer(const SimDisk& disk, uint8_t out[512]) {
  std::fill(out, out + 512, 0);
  put_word(out, 0, 0x0040);  // fixed disk
  put_string(out, 10, 10, "KVQSIM0001");
  put_string(out, 23, 4, "1.0");
  put_string(out, 27, 20, disk.model);
  put_word(out, 49, 0x0200);  // LBA
  put_word(out, 60, static_cast<uint16_t>(disk.sectors28));
  put_word(out, 61, static_cast<uint16_t>(disk.sectors28 >> 16));
  put_word(out, 83, 0x4400);  // 48-bit addressing
  for (int i = 0; i < 4; ++i) put_word(out, 100 + i, static_cast<uint16_t>(disk.sectors48 >> (16 * i)));
}

AhciController::AhciController(Board& board, uint32_t abar, uint32_t implemented)
    : pi(implemented), board_(board), abar_(abar) {}

void AhciController::attach(int port, SimDisk disk) {
  Port& p = ports[port];
  p.has_disk = true;
  p.disk = std::move(disk);
  p.ssts = 0x113;  // DET 3 (device, link up), Gen 1, active
  p.tfd = 0x50;    // DRDY, DSC
}

void AhciController::set_up_like_firmware(int port, uint32_t clb, uint32_t fb, uint32_t ctba, uint32_t stale) {
  Port& p = ports[port];
  p.clb = clb;
  p.fb = fb;
  p.cmd = 0x6;  // spun up, powered on; stopped
  board_.ram_poke32(clb + 0x00, (2u << 16) | (1u << 6) | 5u);  // two PRD entries, write, CFL 5
  board_.ram_poke32(clb + 0x04, 1024);                         // bytes transferred
  board_.ram_poke32(clb + 0x08, ctba);
  board_.ram_poke32(clb + 0x0C, 0);
  static constexpr uint8_t kWriteDmaExt[20] = {0x27, 0x80, 0x35, 0x00, 0x10, 0x20, 0x30, 0x40, 0x00, 0x00,
                                              0x00, 0x00, 0x02, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00};
  for (uint32_t i = 0; i < sizeof kWriteDmaExt; ++i) board_.ram_poke(ctba + i, kWriteDmaExt[i]);
  for (uint32_t e = 0; e < 2; ++e) {
    const uint32_t prd = ctba + 0x80 + 16 * e;
    board_.ram_poke32(prd + 0x00, stale + 512 * e);
    board_.ram_poke32(prd + 0x04, 0);
    board_.ram_poke32(prd + 0x0C, 0x1FF);
  }
  for (uint32_t i = 0; i < 1024; ++i) board_.ram_poke(stale + i, 0xA5);
  // The driver mapped its structures and its data buffer for the HBA.
  for (const DmaWindow& w : {DmaWindow{clb, 0x400, 0}, DmaWindow{fb, 0x100, 0}, DmaWindow{ctba, 0x100, 0},
                             DmaWindow{stale, 0x400, 0}}) {
    board_.dma_windows.push_back(w);
  }
}

bool AhciController::driver_identify(int n, uint64_t buffer) {
  Port& p = ports[n];
  const bool stopped_without_fis = (p.cmd & kSt) != 0 && (p.cmd & kFre) == 0;
  if (!p.has_disk || p.wedged || p.fatal || p.ci != 0 || stopped_without_fis || (p.is & kFatal) != 0 || p.serr != 0 ||
      (p.tfd & 0x88) != 0) {  // BSY or DRQ: the disk needs a reset first
    return false;
  }
  if (p.disk.answer != SimDisk::Answer::kData) return false;
  uint8_t answer[512];
  identify_answer(p.disk, answer);
  for (uint32_t i = 0; i < 512; ++i) board_.ram_poke(buffer + i, answer[i]);
  ++p.identifies;
  return true;
}

uint32_t AhciController::reg(uint32_t offset) const {
  if (offset < ahci::kFirstPort) {
    switch (offset) {
      case 0x00:
        return 0x80001F00u | (kPorts - 1);  // 64-bit addressing, 32 slots
      case 0x04:
        return 0x80000000u;  // AHCI enable
      case 0x0C:
        return pi;
      case 0x10:
        return 0x00010000u;
      case 0x24:
        return 1;  // CAP2: BIOS/OS handoff
      case 0x28:
        return bohc;
      default:
        return 0;
    }
  }
  const uint32_t n = (offset - ahci::kFirstPort) / ahci::kPortStride;
  if (n >= kPorts || ((pi >> n) & 1) == 0) return 0;
  const Port& p = ports[n];
  switch ((offset - ahci::kFirstPort) % ahci::kPortStride) {
    case 0x00: return p.clb;
    case 0x04: return p.clbu;
    case 0x08: return p.fb;
    case 0x0C: return p.fbu;
    case 0x10: return p.is;
    case 0x14: return p.ie;
    case 0x18: return p.cmd;
    case 0x20: return p.tfd;
    case 0x24: return p.has_disk ? p.disk.signature : 0xFFFFFFFFu;
    case 0x28: return p.ssts;
    case 0x30: return p.serr;
    case 0x34: return p.sact;
    case 0x38: return p.ci;
    default: return 0;
  }
}

uint64_t AhciController::read(uint64_t addr, int width) {
  return read_dword_lanes(static_cast<uint32_t>(addr - abar_), width, [this](uint32_t o) { return reg(o); });
}

void AhciController::write(uint64_t addr, int width, uint64_t value) {
  // Byte enables: each dword register sees only the bytes written to it.
  for (int i = 0; i < width / 8; ++i) {
    const uint32_t o = static_cast<uint32_t>(addr - abar_) + static_cast<uint32_t>(i);
    const uint32_t lane = 8 * (o & 3);
    write_reg(o & ~3u, static_cast<uint32_t>((value >> (8 * i)) & 0xFF) << lane, 0xFFu << lane);
  }
}

void AhciController::write_reg(uint32_t offset, uint32_t value, uint32_t mask) {
  if (offset < ahci::kFirstPort) return;
  const uint32_t n = (offset - ahci::kFirstPort) / ahci::kPortStride;
  if (n >= kPorts || ((pi >> n) & 1) == 0) return;
  Port& p = ports[n];
  auto merge = [&](uint32_t& r) { r = (r & ~mask) | (value & mask); };
  switch ((offset - ahci::kFirstPort) % ahci::kPortStride) {
    case 0x00: merge(p.clb); break;
    case 0x04: merge(p.clbu); break;
    case 0x08: merge(p.fb); break;
    case 0x0C: merge(p.fbu); break;
    case 0x10: p.is &= ~(value & mask); break;  // write 1 to clear
    case 0x14: merge(p.ie); break;
    case 0x30: p.serr &= ~(value & mask); break;
    case 0x18: {
      const uint32_t before = p.cmd;
      const uint32_t w = mask & kCmdWritable;
      const uint32_t after = ((before & ~w) | (value & w)) & ~kClo;
      // AHCI 1.3.1, PxCMD: ST is set only once FRE is set and the list has
      // stopped (CR clear); FRE is cleared only while ST and CR are clear.
      const bool sets_st = (before & kSt) == 0 && (after & kSt) != 0;
      const bool clears_fre = (before & kFre) != 0 && (after & kFre) == 0;
      if ((sets_st && ((before & kFre) == 0 || (before & kCr) != 0)) ||
          (clears_fre && ((before & kSt) != 0 || (after & kSt) != 0 || (before & kCr) != 0))) {
        ++p.forbidden;
        p.wedged = true;
      }
      p.cmd = after;
      // This HBA starts and stops its engines at once; a wedged one never.
      if (!p.wedged) p.cmd = (p.cmd & ~(kCr | kFr)) | ((p.cmd & kSt) ? kCr : 0) | ((p.cmd & kFre) ? kFr : 0);
      if ((before & kSt) != 0 && (p.cmd & kSt) == 0) {
        // Stopping drops every issued command and leaves ERR:Fatal.
        p.ci = 0;
        p.sact = 0;
        p.fatal = false;
      }
      run(p);
      break;
    }
    case 0x38:
      // Write 1 to issue. A controller that takes commands only while ST
      // is set drops an earlier one.
      if (ignores_ci_while_stopped && (p.cmd & kSt) == 0) break;
      p.ci |= value & mask;
      run(p);
      break;
    default:
      break;
  }
}

// Slot 0 runs once it is issued and the port is started with FIS receive on.
// A port without a disk never completes it.
void AhciController::run(Port& p) {
  if ((p.cmd & kSt) == 0 || (p.cmd & kFre) == 0 || (p.ci & 1) == 0 || !p.has_disk || p.fatal || p.wedged) return;
  p.tpl_at_start = board_.tpl;
  if (p.disk.answer == SimDisk::Answer::kNever) {
    p.tfd = 0x80;  // BSY, for good: only a COMRESET would end it
    return;
  }
  auto ram32 = [&](uint32_t a) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | board_.ram_peek(a + static_cast<uint32_t>(i));
    return v;
  };
  const uint32_t dw0 = ram32(p.clb);
  const uint32_t ctba = ram32(p.clb + 8);
  const bool command_fis = board_.ram_peek(ctba) == 0x27 && (board_.ram_peek(ctba + 1) & 0x80) != 0 && (dw0 & 0x1F) >= 5;
  if (!command_fis || board_.ram_peek(ctba + 2) != 0xEC || p.disk.answer == SimDisk::Answer::kAbort) {
    // Aborted: ERR with ABRT; the HBA stops with the slot still issued.
    p.tfd = 0x0451;
    p.is |= kTfes;
    p.fatal = true;
    return;
  }
  uint8_t answer[512];
  identify_answer(p.disk, answer);
  uint32_t done = 0;
  // Data flows device to host only when the header says so (W clear).
  const uint32_t entries = (dw0 & (1u << 6)) != 0 ? 0 : dw0 >> 16;
  for (uint32_t e = 0; e < entries && done < 512; ++e) {
    const uint32_t prd = ctba + 0x80 + 16 * e;
    const uint32_t dba = ram32(prd);
    const uint32_t count = std::min<uint32_t>((ram32(prd + 0x0C) & 0x3FFFFF) + 1, 512 - done);
    if (board_.dma_protection && !board_.dma_allowed(dba | (uint64_t{ram32(prd + 4)} << 32), count)) {
      // The IOMMU refused the write: a master abort, and the port halts
      // with the command still issued.
      p.is |= kHbfs;
      p.serr |= kSerrInternal;
      p.fatal = true;
      return;
    }
    if (ram32(prd + 4) == 0) {
      for (uint32_t i = 0; i < count; ++i) board_.ram_poke(dba + i, answer[done + i]);
    }
    done += count;
  }
  board_.ram_poke32(p.clb + 4, done);
  p.tfd = 0x50;
  p.is |= kDhrs | kPss;
  p.ci &= ~1u;
  ++p.identifies;
}

}  // namespace kvq::sim
