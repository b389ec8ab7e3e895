#include "platform/sim/acpi_tables.h"

#include <cstring>

namespace kvq::sim {
namespace {

class Writer {
 public:
  Writer(Board& board, uint32_t at) : board_(board), at_(at) {}
  uint32_t at() const { return at_; }
  void bytes(const char* text, int n) {
    for (int i = 0; i < n; ++i) board_.ram_poke(at_++, static_cast<uint8_t>(text[i]));
  }
  void le(uint64_t v, int n) {
    for (int i = 0; i < n; ++i) board_.ram_poke(at_++, static_cast<uint8_t>(v >> (8 * i)));
  }
  void align16() { at_ = (at_ + 15) & ~15u; }
  void zeros(uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) board_.ram_poke(at_++, 0);
  }
  void align64() { at_ = (at_ + 63) & ~63u; }

  // A table header: signature, length, revision, checksum (fixed later),
  // OEM fields, creator fields.
  void header(const char* signature, uint32_t length, uint8_t revision) {
    bytes(signature, 4);
    le(length, 4);
    le(revision, 1);
    le(0, 1);
    bytes("KVQSIM", 6);
    bytes("KVQBOARD", 8);
    le(1, 4);
    bytes("KVQ ", 4);
    le(1, 4);
  }

 private:
  Board& board_;
  uint32_t at_;
};

// What iasl makes of
//   Scope (\_SB) { Device (PCI0) { Name (_HID, EisaId ("PNP0A08"))
//                                  Name (_CID, EisaId ("PNP0A03"))
//                                  Name (_UID, Zero) } }
// so that a dump of the board's tables decompiles.
constexpr uint8_t kDsdtAml[] = {0x10, 0x26, 0x5F, 0x53, 0x42, 0x5F, 0x5B, 0x82, 0x1F, 0x50, 0x43, 0x49, 0x30,
                                0x08, 0x5F, 0x48, 0x49, 0x44, 0x0C, 0x41, 0xD0, 0x0A, 0x08, 0x08, 0x5F, 0x43,
                                0x49, 0x44, 0x0C, 0x41, 0xD0, 0x0A, 0x03, 0x08, 0x5F, 0x55, 0x49, 0x44, 0x00};
constexpr uint32_t kDsdtLength = 36 + sizeof(kDsdtAml);
constexpr uint32_t kFadtLength = 276;  // ACPI 6
constexpr uint32_t kFacsLength = 64;

}  // namespace

void fix_checksum(Board& board, uint32_t address, uint32_t length, uint32_t checksum_at) {
  board.ram_poke(checksum_at, 0);
  uint8_t sum = 0;
  for (uint32_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + board.ram_peek(address + i));
  board.ram_poke(checksum_at, static_cast<uint8_t>(-sum));
}

void set_field(Board& board, uint32_t table, uint32_t offset, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) {
    board.ram_poke(table + offset + static_cast<uint32_t>(i), static_cast<uint8_t>(value >> (8 * i)));
  }
  uint32_t length = 0;
  for (uint32_t i = 0; i < 4; ++i) length |= static_cast<uint32_t>(board.ram_peek(table + 4 + i)) << (8 * i);
  fix_checksum(board, table, length, table + 9);
}

AcpiLayout install_acpi(Board& board, uint32_t at, const std::vector<McfgAllocation>& mcfg, int ssdts) {
  AcpiLayout layout{};
  Writer w(board, at);
  auto finish = [&](uint32_t table, uint32_t length) {
    fix_checksum(board, table, length, table + 9);
    w.align16();
  };

  // The FACS must be 64-byte aligned; it has no checksum.
  w.align64();
  layout.facs = w.at();
  w.bytes("FACS", 4);
  w.le(kFacsLength, 4);
  w.le(0x12345678, 4);      // hardware signature
  w.zeros(kFacsLength - 12);  // waking vectors, lock, flags; version 0
  w.align16();

  layout.dsdt = w.at();
  w.header("DSDT", kDsdtLength, 2);
  w.bytes(reinterpret_cast<const char*>(kDsdtAml), sizeof(kDsdtAml));
  finish(layout.dsdt, kDsdtLength);

  // FIRMWARE_CTRL and DSDT, then X_FIRMWARE_CTRL (left 0: ACPI wants only
  // one FACS pointer set) and X_DSDT, as QEMU fills them.
  layout.facp = w.at();
  w.header("FACP", kFadtLength, 6);
  w.le(layout.facs, 4);
  w.le(layout.dsdt, 4);
  w.zeros(132 - 44);
  w.le(0, 8);
  w.le(layout.dsdt, 8);
  w.zeros(kFadtLength - 148);
  finish(layout.facp, kFadtLength);

  layout.mcfg = w.at();
  const uint32_t mcfg_length = 44 + 16 * static_cast<uint32_t>(mcfg.size());
  w.header("MCFG", mcfg_length, 1);
  w.le(0, 8);
  for (const McfgAllocation& a : mcfg) {
    w.le(a.base, 8);
    w.le(a.segment, 2);
    w.le(a.first_bus, 1);
    w.le(a.last_bus, 1);
    w.le(0, 4);
  }
  finish(layout.mcfg, mcfg_length);

  // SSDTs with an empty AML body, as many as asked.
  std::vector<uint32_t> entries = {layout.facp, layout.mcfg};
  layout.ssdt = w.at();
  for (int i = 0; i < ssdts; ++i) {
    entries.push_back(w.at());
    w.header("SSDT", 36, 2);
    finish(entries.back(), 36);
  }

  for (const int bytes : {8, 4}) {
    const uint32_t root = w.at();
    const uint32_t length = 36 + bytes * static_cast<uint32_t>(entries.size());
    w.header(bytes == 8 ? "XSDT" : "RSDT", length, 1);
    for (const uint32_t e : entries) w.le(e, bytes);
    finish(root, length);
    (bytes == 8 ? layout.xsdt : layout.rsdt) = root;
  }

  layout.rsdp = w.at();
  w.bytes("RSD PTR ", 8);
  w.le(0, 1);  // checksum of the first 20 bytes
  w.bytes("KVQSIM", 6);
  w.le(2, 1);  // revision: ACPI 2.0 and later
  w.le(layout.rsdt, 4);
  w.le(36, 4);
  w.le(layout.xsdt, 8);
  w.le(0, 1);  // extended checksum, over all 36 bytes
  w.le(0, 3);
  fix_checksum(board, layout.rsdp, 20, layout.rsdp + 8);
  fix_checksum(board, layout.rsdp, 36, layout.rsdp + 32);

  board.config_tables.push_back(ConfigEntry{plat::kAcpi20TableGuid, layout.rsdp});
  return layout;
}

}  // namespace kvq::sim
