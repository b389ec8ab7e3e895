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

}  // namespace

void fix_checksum(Board& board, uint32_t address, uint32_t length, uint32_t checksum_at) {
  board.ram_poke(checksum_at, 0);
  uint8_t sum = 0;
  for (uint32_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + board.ram_peek(address + i));
  board.ram_poke(checksum_at, static_cast<uint8_t>(-sum));
}

AcpiLayout install_acpi(Board& board, uint32_t at, const std::vector<McfgAllocation>& mcfg) {
  AcpiLayout layout{};
  Writer w(board, at);

  const uint32_t facp = w.at();
  w.header("FACP", 36, 6);
  fix_checksum(board, facp, 36, facp + 9);
  w.align16();

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
  fix_checksum(board, layout.mcfg, mcfg_length, layout.mcfg + 9);
  w.align16();

  layout.xsdt = w.at();
  w.header("XSDT", 36 + 16, 1);
  w.le(facp, 8);
  w.le(layout.mcfg, 8);
  fix_checksum(board, layout.xsdt, 52, layout.xsdt + 9);
  w.align16();

  layout.rsdt = w.at();
  w.header("RSDT", 36 + 8, 1);
  w.le(facp, 4);
  w.le(layout.mcfg, 4);
  fix_checksum(board, layout.rsdt, 44, layout.rsdt + 9);
  w.align16();

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
