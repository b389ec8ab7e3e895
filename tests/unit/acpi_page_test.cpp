// The ACPI page on the simulated board's tables, shaped case by case: the
// rows the walk lists with their checks, no byte read outside a table's
// stated length, and the page's keys.
#include <functional>
#include <tuple>

#include "platform/sim/acpi_tables.h"
#include "platform/sim/paging_sim.h"
#include "support.h"

namespace kvq {
namespace {

using test::text_at;
using Layout = sim::AcpiLayout;
constexpr uint32_t kAt = 0x1F700000;
constexpr uint64_t kHole = 0x30000000;  // a 2 MiB page the case's tables leave unmapped

uint32_t stated(sim::Board& b, uint32_t table) { return b.ram_peek(table + 4) | b.ram_peek(table + 5) << 8; }

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
      s += (r > 1 ? "|" : "") + text_at(0, r, 4) + " " + test::row_text(r).substr(56);
    }
    return s;
  }
};

TEST_F(AcpiPageTest, ListsEveryTableOnceWithItsChecksAndReadsNothingOutsideIt) {
  const std::string q35 = "RSDP ok|XSDT ok|FACP ok|DSDT ok|FACS none|MCFG ok";
  const struct {
    const char* what;
    std::function<void(sim::Board&, const Layout&)> shape;
    std::string rows;
  } kCases[] = {
      {"ACPI 1.0: the RSDT",
       [](sim::Board& b, const Layout& l) { b.ram_poke(l.rsdp + 15, 0), sim::fix_checksum(b, l.rsdp, 20, l.rsdp + 8); },
       "RSDP ok|RSDT ok|FACP ok|DSDT ok|FACS none|MCFG ok"},
      {"XSDT checksum: marked, walked, and the RSDT too",
       [](sim::Board& b, const Layout& l) { b.ram_poke(l.xsdt + 10, 0); },
       "RSDP ok|XSDT BAD CHECKSUM|FACP ok|DSDT ok|FACS none|MCFG ok|RSDT ok"},
      {"below the header", [](sim::Board& b, const Layout& l) { sim::set_field(b, l.mcfg, 4, 20, 4); },
       q35.substr(0, 42) + "MCFG bad length"},
      {"entries past the length", [](sim::Board& b, const Layout& l) { sim::set_field(b, l.xsdt, 4, 48, 4); },
       q35.substr(0, 41)},
      {"unmapped entry", [](sim::Board& b, const Layout& l) { sim::set_field(b, l.xsdt, 44, kHole, 8); },
       q35.substr(0, 41) + "|     unmapped"},
      {"only the 32-bit DSDT", [](sim::Board& b, const Layout& l) { sim::set_field(b, l.facp, 140, 0, 8); }, q35},
      {"X_DSDT before DSDT", [](sim::Board& b, const Layout& l) { sim::set_field(b, l.facp, 40, l.facs, 4); }, q35},
      {"an XSDT that lists itself", [](sim::Board& b, const Layout& l) { sim::set_field(b, l.xsdt, 44, l.xsdt, 8); },
       q35.substr(0, 41)},
      {"XSDT", [](sim::Board&, const Layout&) {}, q35},
  };
  sim::PageTables tables(board, sim::PageTables::Shape::k4Level, 0x10000000u);
  tables.map(0, uint64_t{4} << 30, 2u << 20);
  tables.unmap(kHole);
  for (const auto& c : kCases) {
    board.config_tables.clear();
    const Layout l = sim::install_acpi(board, kAt, {{0xB0000000u, 0, 0, 255}});
    c.shape(board, l);
    show();
    EXPECT_EQ(rows(), c.rows) << c.what;
    for (const sim::Access& a : board.log()) {
      bool inside = false;
      for (uint32_t t : {l.rsdp, l.xsdt, l.rsdt, l.facp, l.dsdt, l.facs, l.mcfg}) {
        inside = inside || (a.addr >= t && a.addr + a.width / 8 <= t + (t == l.rsdp ? 36 : stated(board, t)));
      }
      EXPECT_TRUE(a.op != sim::Op::kMemRead || inside) << c.what << ": " << a;
    }
    console().clear_ops();
    pass();
    EXPECT_EQ(console().serial_bytes(), 0u) << c.what << ": an idle pass";
  }
  EXPECT_EQ(test::row_text(6), "MCFG 000000001F7001B0  0000003C  01   KVQSIM  KVQBOARD  ok");
}

// Thirty SSDTs: more tables than the page's twenty rows.
TEST_F(AcpiPageTest, KeysSelectScrollAndOpenTheTableInByteMode) {
  const Layout l = sim::install_acpi(board, kAt, {}, 30);
  show();
  pass_scan(kScanPageDown);  // the 21st of 36, shown from the 17th
  EXPECT_EQ(text_at(64, 22, 15) + text_at(0, 5, 4), "TABLE : 021/036SSDT");
  EXPECT_EQ(test::attr_at(0, 5), 0x2F);
  pass_scan(kScanPageUp);
  for (int i = 0; i < 6; ++i) pass_scan(kScanDown);  // the first SSDT
  state.width = kWord;
  pass_char(kCharEnter);
  pass();
  EXPECT_EQ(std::make_tuple(state.page, state.width, state.memory_base),
            std::make_tuple(PageId::kMemory, +kByte, uint64_t{l.ssdt}));
  EXPECT_EQ(text_at(3, 2, 11), "53 53 44 54");
}

}  // namespace
}  // namespace kvq
