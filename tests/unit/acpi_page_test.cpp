// The ACPI page on the simulated board's tables, shaped case by case: the
// rows the walk lists and their checks, no byte read outside a table's
// stated length, and the page's keys.
#include <functional>
#include <vector>

#include "platform/sim/acpi_tables.h"
#include "platform/sim/paging_sim.h"
#include "support.h"

namespace kvq {
namespace {

using test::attr_at;
using test::text_at;
constexpr uint32_t kAt = 0x1F700000;
constexpr uint64_t kHole = 0x30000000;  // a 2 MiB page the case's tables leave unmapped

uint32_t stated_length(sim::Board& b, uint32_t table) { return b.ram_peek(table + 4) | b.ram_peek(table + 5) << 8; }

// A little-endian field of a table, its checksum made right again.
void poke(sim::Board& b, uint32_t table, uint32_t offset, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) b.ram_poke(table + offset + i, static_cast<uint8_t>(value >> (8 * i)));
  sim::fix_checksum(b, table, stated_length(b, table), table + 9);
}

// A table of `length` bytes (zeros after the signature and length) at
// `at`, its checksum right.
void table(sim::Board& b, uint32_t at, const char* signature, uint32_t length) {
  for (int i = 0; i < 4; ++i) b.ram_poke(at + i, static_cast<uint8_t>(signature[i]));
  poke(b, at, 4, length, 4);
}

class AcpiPageTest : public test::KvqTest {
 protected:
  void show() {
    start();
    state.page = PageId::kAcpi;
    board.clear_log();
    pass();
  }
  // "SIG checks" of each row, as the page shows them.
  std::string rows() {
    std::string s;
    for (int r = 1; r <= state.acpi.count; ++r) {
      std::string check = text_at(56, r, 13);
      s += (r > 1 ? "|" : "") + text_at(0, r, 4) + " " + check.substr(0, check.find_last_not_of(' ') + 1);
    }
    return s;
  }
};

TEST_F(AcpiPageTest, ListsEveryTableOnceWithItsChecksAndReadsNothingOutsideIt) {
  using Shape = std::function<void(sim::Board&, const sim::AcpiLayout&)>;
  const std::string q35 = "RSDP ok|XSDT ok|FACP ok|DSDT ok|FACS none|MCFG ok";
  const struct {
    const char* what;
    Shape shape;
    std::string rows;
  } kCases[] = {
      {"ACPI 1.0: the RSDT",
       [](sim::Board& b, const sim::AcpiLayout& l) {
         b.ram_poke(l.rsdp + 15, 0);
         sim::fix_checksum(b, l.rsdp, 20, l.rsdp + 8);
       },
       "RSDP ok|RSDT ok|FACP ok|DSDT ok|FACS none|MCFG ok"},
      {"XSDT checksum: marked, walked, and the RSDT too",
       [](sim::Board& b, const sim::AcpiLayout& l) { b.ram_poke(l.xsdt + 10, 'X'); },
       "RSDP ok|XSDT BAD CHECKSUM|FACP ok|DSDT ok|FACS none|MCFG ok|RSDT ok"},
      {"length below the header", [](sim::Board& b, const sim::AcpiLayout& l) { poke(b, l.mcfg, 4, 20, 4); },
       "RSDP ok|XSDT ok|FACP ok|DSDT ok|FACS none|MCFG bad length"},
      {"more entries than the stated length holds",
       [](sim::Board& b, const sim::AcpiLayout& l) { poke(b, l.xsdt, 4, 36 + 8 + 4, 4); },
       "RSDP ok|XSDT ok|FACP ok|DSDT ok|FACS none"},
      {"unmapped entry",
       [](sim::Board& b, const sim::AcpiLayout& l) {
         sim::PageTables tables(b, sim::PageTables::Shape::k4Level, 0x10000000u);
         tables.map(0, uint64_t{4} << 30, 2u << 20);
         tables.unmap(kHole);
         poke(b, l.xsdt, 44, kHole, 8);
       },
       q35.substr(0, q35.size() - 8) + "|     unmapped"},
      {"only the 32-bit DSDT", [](sim::Board& b, const sim::AcpiLayout& l) { poke(b, l.facp, 140, 0, 8); }, q35},
      {"X_DSDT before DSDT", [](sim::Board& b, const sim::AcpiLayout& l) { poke(b, l.facp, 40, l.facs, 4); }, q35},
      {"an XSDT that lists itself", [](sim::Board& b, const sim::AcpiLayout& l) { poke(b, l.xsdt, 44, l.xsdt, 8); },
       "RSDP ok|XSDT ok|FACP ok|DSDT ok|FACS none"},
      {"XSDT", [](sim::Board&, const sim::AcpiLayout&) {}, q35},
  };
  const paging::Registers ovmf = board.paging;
  for (const auto& c : kCases) {
    board.config_tables.clear();
    board.paging = ovmf;
    const sim::AcpiLayout l = sim::install_acpi(board, kAt, {{0xB0000000u, 0, 0, 255}});
    c.shape(board, l);
    show();
    EXPECT_EQ(rows(), c.rows) << c.what;
    for (const sim::Access& a : board.log()) {
      bool inside = false;
      for (uint32_t t : {l.rsdp, l.xsdt, l.rsdt, l.facp, l.dsdt, l.facs, l.mcfg}) {
        const uint32_t length = t == l.rsdp ? 36 : stated_length(board, t);
        inside = inside || (a.addr >= t && a.addr + a.width / 8 <= t + length);
      }
      EXPECT_TRUE(a.op != sim::Op::kMemRead || inside) << c.what << ": " << a;
    }
  }
  EXPECT_EQ(test::row_text(6), "MCFG 000000001F7001B0  0000003C  01   KVQSIM  KVQBOARD  ok");
}

// An XSDT of thirty SSDTs: more tables than the page's twenty rows.
TEST_F(AcpiPageTest, KeysSelectScrollAndOpenTheTableInByteModeAndAnIdlePassSendsNothing) {
  constexpr uint32_t kXsdt = 0x1F710000;
  constexpr uint32_t kSsdt = 0x1F720000;
  const sim::AcpiLayout l = sim::install_acpi(board, kAt, {});
  table(board, kXsdt, "XSDT", 36 + 8 * 30);
  for (uint32_t i = 0; i < 30; ++i) {
    table(board, kSsdt + 64 * i, "SSDT", 36);
    poke(board, kXsdt, 36 + 8 * i, kSsdt + 64 * i, 8);
  }
  board.ram_poke32(l.rsdp + 24, kXsdt);
  sim::fix_checksum(board, l.rsdp, 36, l.rsdp + 32);
  show();
  pass_scan(kScanPageDown);  // row 21 of 32, shown from the 13th
  EXPECT_EQ(text_at(64, 22, 15), "TABLE : 021/032");
  EXPECT_EQ(attr_at(0, 9), 0x2F);
  pass_scan(kScanPageUp);
  pass_scan(kScanDown);
  pass_scan(kScanDown);
  EXPECT_EQ(attr_at(0, 3), 0x2F);
  console().clear_ops();
  pass();
  EXPECT_EQ(console().serial_bytes(), 0u);
  state.width = kWord;
  pass_char(kCharEnter);
  pass();
  EXPECT_EQ(std::vector<uint64_t>({static_cast<uint64_t>(state.page), static_cast<uint64_t>(state.width), state.memory_base}),
            std::vector<uint64_t>({static_cast<uint64_t>(PageId::kMemory), kByte, kSsdt}));
  EXPECT_EQ(text_at(3, 2, 11), "53 53 44 54");
}

}  // namespace
}  // namespace kvq
