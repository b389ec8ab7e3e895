#include "platform/sim/apic_sim.h"

#include "platform/sim/acpi_tables.h"

namespace kvq::sim {
namespace {

constexpr uint32_t kIoRegSel = 0x00;
constexpr uint32_t kIoWin = 0x10;

uint32_t peek32(const Board& b, uint64_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | b.ram_peek(at + static_cast<uint64_t>(i));
  return v;
}

void poke(Board& b, uint64_t at, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.ram_poke(at + static_cast<uint64_t>(i), static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

ApicPage::ApicPage(Board& board, uint64_t base, Kind kind) : board_(board), base_(base), kind_(kind) {
  if (kind == Kind::kLocal) {
    regs[0x30 / 16] = 0x00050014;  // version: 6 LVT entries
    regs[0xF0 / 16] = 0x000001FF;  // spurious vector, enabled
  } else {
    regs[1] = 0x00170020;  // version: 24 redirection entries
  }
}

bool ApicPage::decodes(uint64_t addr, int width, uint64_t value, bool write) {
  if (width == 32 && addr % 4 == 0) return true;
  board_.faults.push_back(Access{write ? Op::kMemWrite : Op::kMemRead, static_cast<uint8_t>(width), addr, value});
  return false;
}

uint64_t ApicPage::read(uint64_t addr, int width) {
  if (!decodes(addr, width, 0, false)) return 0xA5A5A5A5A5A5A5A5ull;
  const uint32_t offset = static_cast<uint32_t>(addr - base_);
  if (kind_ == Kind::kLocal) return offset % 16 == 0 ? regs[offset / 16] : 0;
  if (offset == kIoRegSel) return select;
  return offset == kIoWin ? regs[select & 0xFF] : 0;
}

void ApicPage::write(uint64_t addr, int width, uint64_t value) {
  if (!decodes(addr, width, value, true)) return;
  const uint32_t offset = static_cast<uint32_t>(addr - base_);
  if (kind_ == Kind::kLocal) {
    if (offset % 16 == 0) regs[offset / 16] = static_cast<uint32_t>(value);
  } else if (offset == kIoRegSel) {
    select = static_cast<uint32_t>(value);
  } else if (offset == kIoWin) {
    regs[select & 0xFF] = static_cast<uint32_t>(value);
  }
}

void install_madt(Board& board, uint32_t at, uint32_t local, const std::vector<uint32_t>& io_apics) {
  uint64_t rsdp = 0;
  for (const ConfigEntry& e : board.config_tables) {
    if (plat::same_guid(e.guid, plat::kAcpi20TableGuid)) rsdp = e.address;
  }
  // Header, the local APIC address and flags, then one 12-byte I/O APIC
  // entry each (type 1).
  const uint32_t length = 44 + 12 * static_cast<uint32_t>(io_apics.size());
  poke(board, at, 0x43495041, 4);  // "APIC"
  poke(board, at + 4, length, 4);
  poke(board, at + 8, 4, 1);
  for (uint32_t i = 10; i < 36; ++i) board.ram_poke(at + i, 0x20);
  poke(board, at + 36, local, 4);
  poke(board, at + 40, 1, 4);  // PC-AT compatible
  uint32_t p = at + 44;
  for (size_t i = 0; i < io_apics.size(); ++i, p += 12) {
    poke(board, p, 0x0C01, 2);
    poke(board, p + 2, i, 2);
    poke(board, p + 4, io_apics[i], 4);
    poke(board, p + 8, 24 * i, 4);
  }
  fix_checksum(board, at, length, at + 9);
  // New root tables: the old entries and the MADT.
  uint32_t root = (at + length + 15) & ~15u;
  for (const int bytes : {8, 4}) {
    const uint32_t old = peek32(board, rsdp + (bytes == 8 ? 24 : 16));
    const uint32_t old_length = peek32(board, old + 4);
    for (uint32_t i = 0; i < old_length; ++i) board.ram_poke(root + i, board.ram_peek(old + i));
    poke(board, root + old_length, at, bytes);
    poke(board, root + 4, old_length + static_cast<uint32_t>(bytes), 4);
    fix_checksum(board, root, old_length + static_cast<uint32_t>(bytes), root + 9);
    poke(board, rsdp + (bytes == 8 ? 24 : 16), root, bytes == 8 ? 8 : 4);
    root = (root + old_length + static_cast<uint32_t>(bytes) + 15) & ~15u;
  }
  fix_checksum(board, static_cast<uint32_t>(rsdp), 20, static_cast<uint32_t>(rsdp) + 8);
  fix_checksum(board, static_cast<uint32_t>(rsdp), 36, static_cast<uint32_t>(rsdp) + 32);
}

}  // namespace kvq::sim
