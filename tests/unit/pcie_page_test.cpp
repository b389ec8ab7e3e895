// The PCIE page on the simulated Q35 board.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "app/colors.h"
#include "app/grid.h"
#include "hw/pci.h"
#include "platform/sim/devices.h"
#include "platform/sim/q35.h"
#include "support.h"

namespace kvq {
namespace {

using sim::in32;
using sim::out32;
using test::attr_at;
using test::row_text;
using test::text_at;

class PciePageTest : public test::KvqTest {
 protected:
  void SetUp() override {
    KvqTest::SetUp();
    sim::build_q35(board);
    start();
  }
  // Makes the function at `index` of the table current, as PageDown does.
  void go_to(int32_t index) {
    while (state.table_index < index) pass_scan(kScanPageDown);
  }
  int32_t index_of(int bus, int dev, int fn) {
    for (int32_t i = 0; i < state.device_count; ++i) {
      const auto& e = pci::g_devices.entries[i];
      if (e.bdf == pci::Bdf{0, static_cast<uint8_t>(bus), static_cast<uint8_t>(dev), static_cast<uint8_t>(fn)}) return i;
    }
    return -1;
  }
};

TEST_F(PciePageTest, HostBridgePageShowsGridNamePanelAndAddresses) {
  pass();
  EXPECT_EQ(row_text(0), "Bus:00 Dev:00 Fun:00");
  EXPECT_EQ(text_at(3, 2, 12), "86 80 C0 29 ");
  EXPECT_EQ(row_text(18), "Intel 82G33/G31/P35/P31 Express DRAM Controller");
  EXPECT_EQ(attr_at(0, 18), kAttrWhite);
  EXPECT_EQ(text_at(0, 1, 2), "00");
  EXPECT_EQ(attr_at(0, 1), kAttrLightGreen);
  EXPECT_EQ(text_at(25, 19, 7), "0x00 ->");
  EXPECT_EQ(text_at(39, 19, 28), "IO Port Address : 0x80000000");
  EXPECT_EQ(text_at(39, 20, 28), "Memory Address  : 0xB0000000");
  EXPECT_EQ(text_at(33, 19, 4), "0x86");
  EXPECT_EQ(text_at(51, 1, 19), "Data Width : 8 bits");
  EXPECT_EQ(text_at(51, 3, 18), "Vendor ID   : 8086");
  EXPECT_EQ(text_at(51, 4, 18), "Device ID   : 29C0");
  EXPECT_EQ(text_at(51, 10, 16), "Sub Class   : 00");
  EXPECT_EQ(text_at(51, 11, 16), "Base Class  : 06");
  EXPECT_EQ(text_at(51, 12, 17), "PCI Express : NO ");
  EXPECT_EQ(row_text(5).size(), 50u);  // row 5 of the panel stays empty
  EXPECT_EQ(text_at(51, 0, 4), "    ");  // no MAC line
}

TEST_F(PciePageTest, PanelFieldsPrintHighByteFirst) {
  sim::PciFunction* f = board.function(0, 0, 0);
  f->set32(0x04, 0x02900147);
  f->set8(0x08, 0x5A);
  f->set8(0x3C, 0x0B);
  pass();
  EXPECT_EQ(text_at(51, 6, 18), "PCI CMD     : 0147");
  EXPECT_EQ(text_at(51, 7, 18), "PCI STS     : 0290");
  EXPECT_EQ(text_at(51, 8, 16), "Rev ID      : 5A");
  EXPECT_EQ(text_at(51, 13, 16), "PCI IRQ#    : 0B");
}

TEST_F(PciePageTest, PciExpressComesFromTheCapabilityListNotCacheLineSize) {
  go_to(index_of(0, 4, 0));
  pass();
  EXPECT_EQ(text_at(51, 12, 17), "PCI Express : YES");
  // A host bridge with a cache line size of 0x10 is still not PCI Express.
  sim::PciFunction* host = board.function(0, 0, 0);
  host->set8(0x0C, 0x10);
  RegisterWindow w;
  pci::read_window({}, w);
  EXPECT_FALSE(pci::is_express(w));
  // Malformed lists end: a loop, a pointer below 0x40, status bit clear.
  host->add_capability(0x01, 0x50);
  host->set8(0x51, 0x50);
  pci::read_window({}, w);
  EXPECT_FALSE(pci::is_express(w));
  host->set8(0x51, 0x20);
  host->set8(0x20, 0x10);
  pci::read_window({}, w);
  EXPECT_FALSE(pci::is_express(w));
  host->set8(0x51, 0x60);
  host->set8(0x60, 0x10);
  pci::read_window({}, w);
  EXPECT_TRUE(pci::is_express(w));
  host->set8(0x06, 0x00);
  pci::read_window({}, w);
  EXPECT_FALSE(pci::is_express(w));
}

TEST_F(PciePageTest, IntelMacIsReadAsTwoDwordsFromBar0WithFlagsCleared) {
  // A prefetchable BAR0: flag bits must not move the address.
  board.function(0, 4, 0)->set32(0x10, sim::kQ35E1000eBar0 | 0x8);
  go_to(index_of(0, 4, 0));
  board.clear_log();
  pass();
  EXPECT_EQ(text_at(51, 0, 22), "MAC: 52-54-00-AA-BB-01");
  EXPECT_EQ(row_text(18), "Intel 82574L Gigabit Network Connection");
  // The MAC accesses: BAR0 address, BAR0 read, RAL0 and RAH0 as dwords.
  const auto& log = board.log();
  const sim::Access bar_read = in32(0xCFC, sim::kQ35E1000eBar0 | 0x8);
  // The last BAR0 address write is the MAC line's (the window read came first).
  auto it = std::find(log.rbegin(), log.rend(), out32(0xCF8, 0x80002010)).base() - 1;
  ASSERT_GE(log.end() - it, 5);
  EXPECT_EQ(it[1], bar_read);
  EXPECT_EQ(it[3], sim::rd(32, sim::kQ35E1000eBar0 + 0x5400, 0xAA005452));
  EXPECT_EQ(it[4], sim::rd(32, sim::kQ35E1000eBar0 + 0x5404, 0x800001BB));
}

TEST_F(PciePageTest, RealtekMacIsReadBytewiseFromItsIoBar) {
  go_to(index_of(0, 5, 0));
  board.clear_log();
  pass();
  EXPECT_EQ(text_at(51, 0, 22), "MAC: 52-54-00-AA-BB-02");
  const auto& log = board.log();
  auto it = std::find(log.rbegin(), log.rend(), out32(0xCF8, 0x80002810)).base() - 1;
  ASSERT_GE(log.end() - it, 9);
  EXPECT_EQ(it[1], in32(0xCFC, sim::kQ35Rtl8139Io | 1u));
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(it[3 + i], sim::in8(static_cast<uint16_t>(sim::kQ35Rtl8139Io + i), sim::kQ35Rtl8139Mac[i]));
  }
}

TEST_F(PciePageTest, MacLineOnlyForIntelAndRealtekEthernet) {
  // An Intel device of another class has none; an Ethernet controller of
  // another vendor has none.
  sim::PciFunction* nic = board.function(0, 4, 0);
  nic->set8(0x0A, 0x80);
  go_to(index_of(0, 4, 0));
  pass();
  EXPECT_EQ(text_at(51, 0, 4), "    ");
  nic->set8(0x0A, 0x00);
  nic->set16(0x00, 0x14E4);
  pass();
  EXPECT_EQ(text_at(51, 0, 4), "    ");
}

TEST_F(PciePageTest, MacLineOnlyFromABar0ThatLeadsToTheRegisters) {
  // The NIC's Command register and BAR0 (and BAR1) as found, and what the
  // MAC line shows: Intel from a memory BAR the function decodes, 32 or 64
  // bits wide, Realtek from an I/O BAR it decodes holding its six ports.
  constexpr uint64_t kHigh = 0x8000000000ull;
  constexpr uint8_t kHighMac[6] = {0x52, 0x54, 0x00, 0xAA, 0xBB, 0x03};
  board.add_mem_device(std::make_unique<sim::E1000eMmio>(kHigh, kHighMac));
  struct Case {
    int device;
    uint16_t command;
    uint32_t bar0;
    uint32_t bar1;
    const char* shown;
  };
  const Case cases[] = {
      {4, 0x0007, sim::kQ35E1000eBar0, 0, "MAC: 52-54-00-AA-BB-01"},
      {4, 0x0007, 0x0000000C, 0x80, "MAC: 52-54-00-AA-BB-03"},  // 64-bit, above 4 GiB
      {4, 0x0005, sim::kQ35E1000eBar0, 0, "MAC: --"},           // memory decoding off
      {4, 0x0007, 0xFFFFFFC0, 0, "MAC: --"},  // not a register block: + 5400h would leave 4 GiB
      {4, 7, 0, 0, "MAC: --"},     {4, 7, 0xFFFFFFFF, 0, "MAC: --"}, {4, 7, 0xFFFFFFF0, 0, "MAC: --"},
      {4, 7, 0x6001, 0, "MAC: --"},
      {5, 0x0007, sim::kQ35Rtl8139Io | 1u, 0, "MAC: 52-54-00-AA-BB-02"},
      {5, 0x0006, sim::kQ35Rtl8139Io | 1u, 0, "MAC: --"},  // I/O decoding off
      {5, 7, 0, 0, "MAC: --"},     {5, 7, 1, 0, "MAC: --"},          {5, 7, 0xFFFFFFFF, 0, "MAC: --"},
      {5, 7, 0x10001, 0, "MAC: --"}, {5, 7, 0xC0000000, 0, "MAC: --"},
  };
  for (const Case& c : cases) {
    sim::PciFunction& f = *board.function(0, c.device, 0);
    f.set16(0x04, c.command);
    f.set32(0x10, c.bar0);
    f.set32(0x14, c.bar1);
    go_to(index_of(0, c.device, 0));
    pass();
    board.clear_log();
    pass();
    EXPECT_EQ(text_at(51, 0, 23), std::string(c.shown) + std::string(23 - strlen(c.shown), ' '))
        << c.device << " " << std::hex << c.bar0;
    // Nothing on this page reads bytes of ports or memory but the MAC line
    // (and the extended capabilities, in the memory-mapped configuration
    // space at B0000000h).
    const bool read_bar = std::any_of(board.log().begin(), board.log().end(), [](const sim::Access& a) {
      return (a.op == sim::Op::kPortIn && a.width == 8) || (a.op == sim::Op::kMemRead && a.addr >> 28 != 0xB);
    });
    EXPECT_EQ(read_bar, c.shown[5] != '-') << c.device << " " << std::hex << c.bar0;
    state.table_index = 0;
  }
}

TEST_F(PciePageTest, PageKeysReturnToTheTableAfterTheSelector) {
  // 00:00.0 is the first entry: PageUp there goes back to it from 31:03.
  console().push_char(u'p');
  console().push_text(u"003103");
  pass();
  EXPECT_EQ(state.device.device, 31);
  pass_scan(kScanPageUp);
  EXPECT_EQ(state.table_index, 0);
  EXPECT_EQ(state.device.device, 0);
  go_to(state.device_count - 1);
  console().push_char(u'p');
  console().push_text(u"000402");
  pass();
  pass_scan(kScanPageDown);
  EXPECT_EQ(state.table_index, state.device_count - 1);
  EXPECT_EQ(state.device.device, 31);
  EXPECT_EQ(state.device.function, 3);
}

TEST_F(PciePageTest, PageUpAndPageDownStopAtTheEndsAndBlankTheOldLines) {
  pass_scan(kScanPageUp);
  EXPECT_EQ(state.table_index, 0);
  go_to(index_of(0, 4, 0));
  pass();
  EXPECT_EQ(text_at(51, 0, 4), "MAC:");
  state.cursor() = CellCursor{3, 6, 1};
  pass_scan(kScanPageDown);  // to the RTL8139: old lines blanked
  EXPECT_EQ(row_text(0), "");
  EXPECT_EQ(row_text(18), "");
  EXPECT_EQ(state.cursor().index, 1);  // cursor stays
  for (int i = 0; i < 10; ++i) pass_scan(kScanPageDown);
  EXPECT_EQ(state.table_index, state.device_count - 1);
  pass();
  EXPECT_EQ(row_text(0), "Bus:00 Dev:31 Fun:03");
  EXPECT_EQ(row_text(18), "Intel 82801I (ICH9 Family) SMBus Controller");
}

TEST_F(PciePageTest, PageKeysDoNothingWithAnEmptyTable) {
  board.functions().clear();
  start();
  pass_scan(kScanPageDown);
  pass_scan(kScanPageUp);
  EXPECT_EQ(state.table_index, 0);
  EXPECT_EQ(state.device.bus, 0);
}

TEST_F(PciePageTest, ValueEntryWritesConfigurationSpaceOnTheLastDigit) {
  go_to(index_of(0, 4, 0));
  state.cursor() = CellCursor{5, 39, 12};  // offset 0x3C, interrupt line
  console().push_char(kCharEnter);
  console().push_text(u"5");
  board.clear_log();
  console().push_char(u'A');
  pass();
  EXPECT_EQ(board.function(0, 4, 0)->cfg[0x3C], 0x5A);
  pass();
  EXPECT_EQ(text_at(39, 5, 2), "5A");
  EXPECT_EQ(text_at(51, 13, 16), "PCI IRQ#    : 5A");

  // Esc after one digit writes nothing.
  console().push_char(kCharEnter);
  console().push_char(u'1');
  console().push_scan(kScanEsc);
  board.clear_log();
  pass();
  for (const auto& a : board.log()) EXPECT_NE(a.op == sim::Op::kPortOut && a.addr == 0xCFC, true);
  EXPECT_EQ(board.function(0, 4, 0)->cfg[0x3C], 0x5A);
}

TEST_F(PciePageTest, WordAndDwordWritesUseTheirWidths) {
  sim::PciFunction* f = board.function(0, 1, 0);
  f->set_writable(0x14, 4, 0xFFFFFFFF);
  go_to(index_of(0, 1, 0));
  pass_scan(kScanF7);
  state.cursor() = CellCursor{3, 18, 3};  // word at 0x16
  console().push_char(kCharEnter);
  console().push_text(u"BEEF");
  pass();
  EXPECT_EQ(f->get32(0x14) >> 16, 0xBEEFu);
  pass_scan(kScanF7);
  state.cursor() = CellCursor{3, 12, 1};  // dword at 0x14
  console().push_char(kCharEnter);
  console().push_text(u"12345678");
  board.clear_log();
  pass();
  EXPECT_EQ(f->get32(0x14), 0x12345678u);
}

TEST_F(PciePageTest, OffsetLabelAndRulerFollowTheWidth) {
  pass_scan(kScanF7);
  state.cursor() = CellCursor{3, 33, 6};  // word at 0x1C
  pass();
  EXPECT_EQ(text_at(23, 19, 7), "0x1C ->");
  EXPECT_EQ(text_at(31, 19, 6), "0x0000");
  pass_scan(kScanF7);
  pass();
  EXPECT_EQ(text_at(19, 19, 7), "0x00 ->");
  EXPECT_EQ(text_at(27, 19, 10), "0x29C08086");
  EXPECT_EQ(text_at(51, 1, 20), "Data Width : 32 bits");
}

TEST_F(PciePageTest, SelectorChoosesAFunctionAndBlanksTheNameRow) {
  pass();
  console().push_char(u'p');
  console().push_text(u"000402");  // device 4, function 2: absent
  pass();
  EXPECT_EQ(state.device.device, 4);
  EXPECT_EQ(state.device.function, 2);
  EXPECT_EQ(state.table_index, 0);
  EXPECT_EQ(row_text(18), "");
  pass();
  EXPECT_EQ(row_text(0), "Bus:00 Dev:04 Fun:02");
  EXPECT_EQ(text_at(3, 2, 6), "FF FF ");
  EXPECT_EQ(text_at(51, 3, 18), "Vendor ID   : FFFF");
  EXPECT_EQ(text_at(51, 12, 17), "PCI Express : NO ");

  // Upper-case P does nothing; Esc leaves the device as it was.
  pass_char(u'P');
  EXPECT_EQ(console().pending_keys(), 0u);
  console().push_char(u'p');
  console().push_text(u"00");
  console().push_scan(kScanEsc);
  pass();
  EXPECT_EQ(state.device.device, 4);
  EXPECT_FALSE(console().starved);
}

TEST_F(PciePageTest, SOpensTheMemoryPageOnlyOnPciExpress) {
  pass_char(u'S');
  EXPECT_EQ(state.page, PageId::kPcie);
  go_to(index_of(0, 4, 0));
  pass();
  const uint32_t clears = con::screen().clear_generation();
  pass_char(u's');
  EXPECT_EQ(state.page, PageId::kMemory);
  EXPECT_EQ(state.memory_base, 0xB0000000u + (4u << 15));
  EXPECT_GT(con::screen().clear_generation(), clears);
}

TEST_F(PciePageTest, AFunctionOfAnotherSegmentIsListedNamedAndReached) {
  sim::add_second_segment(board, 0xE0000000u);
  start();
  go_to(state.device_count - 1);
  pass();
  EXPECT_EQ(row_text(0).substr(0, 12), "0001:01:00.0");
  EXPECT_EQ(text_at(39, 19, 22), "IO Port Address : none");
  EXPECT_EQ(text_at(39, 20, 28), "Memory Address  : 0xE0100000");
  pass_scan(kScanF5), pass();
  EXPECT_EQ(row_text(state.device_count), "0001:01:00.0 10D38086 Intel 82574L Gigabit Network Connection");
}

TEST_F(PciePageTest, AnIdlePassSendsNothingToTheConsole) {
  pass();
  pass();
  console().clear_ops();
  for (int i = 0; i < 5; ++i) pass();
  EXPECT_TRUE(console().ops.empty());
  // One cursor move sends a handful of cells.
  pass_scan(kScanRight);
  pass();
  EXPECT_GT(console().serial_bytes(), 0u);
  EXPECT_LT(console().serial_bytes(), 200u);
}

// Rows 14 to 17 of the panel, 29 columns each, joined by "|".
std::string capability_rows() {
  std::string rows;
  for (int row = 14; row <= 17; ++row) rows += (row > 14 ? "|" : "") + text_at(51, row, 29);
  return rows;
}

// 24 power management capabilities, 40h to F8h: more than the rows hold.
void add_crowded_function(sim::Board& board) {
  sim::PciFunction& f = board.add_function(0, 6, 0, 0x1B36, 0x0001);
  for (int at = 0x40; at < 0x100; at += 8) f.add_capability(0x01, at);
}

TEST_F(PciePageTest, CapabilityRowsShowTheLinkThenTheListAndBlankTheirTails) {
  add_crowded_function(board);
  struct Step {
    int device;
    uint16_t express_caps, link_status;  // at E2h and F2h of the e1000e
    uint32_t link_caps;                  // at ECh
    std::vector<const char*> rows;
  };
  const Step steps[] = {
      {4, 0x0091, 0x0011, 0x0411, {"C8 PM D0 MSI E0 Exp A0 MSI-X", "100 AER 140 DSN", "", ""}},  // no link
      {4, 0x0001, 0x0011, 0x0103, {"Link x1 2.5GT/s of x16 8GT/s", "C8 PM D0 MSI E0 Exp A0 MSI-X", "100 AER 140 DSN", ""}},
      {4, 0x0001, 0x0101, 0x0101, {"Link x16 2.5 of x16 2.5GT/s", "C8 PM D0 MSI E0 Exp A0 MSI-X", "100 AER 140 DSN", ""}},
      {6, 0, 0, 0, {"40 PM 48 PM 50 PM 58 PM 60 PM", "68 PM 70 PM 78 PM 80 PM 88 PM", "90 PM 98 PM A0 PM A8 PM B0 PM",
                    "B8 PM C0 PM C8 PM D0 PM +5"}},
      {0, 0, 0, 0, {"", "", "", ""}},  // no list
  };
  for (const Step& s : steps) {
    sim::PciFunction* nic = board.function(0, 4, 0);
    nic->set16(0xE2, s.express_caps);
    nic->set16(0xF2, s.link_status);
    nic->set32(0xEC, s.link_caps);
    state.device = pci::Bdf{0, 0, static_cast<uint8_t>(s.device), 0};
    pass();
    std::string want;
    for (const char* r : s.rows) want += (want.empty() ? "" : "|") + (r + std::string(29, ' ')).substr(0, 29);
    EXPECT_EQ(capability_rows(), want) << s.device;
  }
}

TEST_F(PciePageTest, LowerCaseCMovesToTheNextCapabilityHeaderAndWraps) {
  go_to(index_of(0, 4, 0));
  for (int offset : {0xA0, 0xC8, 0xD0, 0xE0, 0xA0}) {
    pass_char(u'c');
    EXPECT_EQ(cursor_offset(state.cursor(), state.width), offset);
  }
  pass_scan(kScanF7);
  state.cursor() = CellCursor{16, 8, 1};  // word at E2h, past the last header
  pass_char(u'c');
  EXPECT_EQ(state.cursor().col, 3);
  EXPECT_EQ(cursor_offset(state.cursor(), state.width), 0xA0);
  state.device = pci::Bdf{};  // the host bridge has no list: the cursor stays
  pass_char(u'c');
  EXPECT_EQ(cursor_offset(state.cursor(), state.width), 0xA0);
}

TEST_F(PciePageTest, CapabilityViewDecodesLiveScrollsAndGoesBackOnCOrEsc) {
  go_to(index_of(0, 4, 0));
  pass_char(u'C');
  EXPECT_EQ(state.page, PageId::kPcieCaps);
  pass();
  EXPECT_EQ(row_text(0), "Bus:00 Dev:04 Fun:00  8086:10D3  capabilities");
  EXPECT_EQ(row_text(6), "[E0] PCI Express v1: Root Complex Integrated Endpoint");
  EXPECT_EQ(attr_at(0, 6), kAttrYellow);
  EXPECT_EQ(row_text(8), "       DevCtl: MaxPayload 128 bytes, MaxReadReq 128 bytes");
  EXPECT_EQ(row_text(12), "       UESta: 00000000");
  // Read afresh: errors the function latches show on the next pass, by name.
  board.function(0, 4, 0)->set32(0x104, 0x80100010);
  board.function(0, 4, 0)->set32(0x110, 0x00000041);
  pass();
  EXPECT_EQ(row_text(12), "       UESta: 80100010 DLP UnsupReq TLPXlatBlocked");
  EXPECT_EQ(row_text(13), "       CESta: 00000041 RxErr BadTLP");
  console().clear_ops();
  pass();
  EXPECT_EQ(console().serial_bytes(), 0u);
  EXPECT_TRUE(pass_scan(kScanEsc));  // back to the grid, kvq goes on
  EXPECT_EQ(state.page, PageId::kPcie);

  // 24 capabilities of two lines each: 48 lines, 21 on the screen.
  add_crowded_function(board);
  state.device = pci::Bdf{0, 0, 6, 0};
  pass_char(u'C');
  for (uint16_t key : {kScanDown, kScanPageDown, kScanPageDown, kScanPageDown, kScanUp}) pass_scan(key);
  pass();
  EXPECT_EQ(state.caps_top, 26);
  EXPECT_EQ(row_text(2), "[A8] Power Management v0");
  EXPECT_EQ(text_at(0, 23, 17), "Lines 27-47 of 48");
  pass_char(u'C');
  EXPECT_EQ(state.page, PageId::kPcie);
}

}  // namespace
}  // namespace kvq
