// The HDD page on the simulated Q35 board: the boot disk on AHCI port 0,
// ports 1 to 5 empty, ports 6 and 7 not implemented.
#include <gtest/gtest.h>

#include "hw/sata.h"
#include "platform/sim/ahci_sim.h"
#include "platform/sim/q35.h"
#include "support.h"

namespace kvq {
namespace {

using test::row_text;
using test::text_at;

class HddPageTest : public test::KvqTest {
 protected:
  void SetUp() override {
    KvqTest::SetUp();
    sim::build_q35(board);
    board.clear_log();
    start();
    buffer = board.pool_top;
    state.page = PageId::kHdd;
    con::clear_screen();
  }
  uint32_t buffer = 0;
};

TEST_F(HddPageTest, StartUpProbesPort0FirstAndPortsWrapBothWays) {
  EXPECT_EQ(board.log()[0], sim::out32(0xCF8, 0x8000FA24));  // ABAR, before any scan access
  EXPECT_EQ(state.hdd_buffer, buffer);
  pass();
  EXPECT_EQ(row_text(0).substr(0, 28), "HDD Port 0 Address: 1EEFF000");
  EXPECT_EQ(row_text(18), "Model Name: QEMU HARDDISK                          Size: 0G");
  EXPECT_EQ(board.ahci->ports[0].identifies, 3);  // start-up, then model and size

  pass_scan(kScanPageUp);
  EXPECT_EQ(state.hdd_port_offset, 0x480);
  EXPECT_EQ(state.hdd_buffer, sata::kNoDevice);
  EXPECT_EQ(row_text(18), "");  // cleared for the next pass
  pass();
  EXPECT_EQ(row_text(0).substr(0, 28), "HDD Port 7 Address: FFFFFFFF");
  EXPECT_EQ(row_text(18), "No device be detected !");
  pass_scan(kScanPageDown);
  EXPECT_EQ(state.hdd_port_offset, 0x100);
  EXPECT_EQ(state.hdd_buffer, buffer);
  pass_scan(kScanPageDown);
  pass_scan(kScanPageDown);
  board.total_stall_us = 0;
  pass();
  EXPECT_EQ(row_text(0).substr(0, 10), "HDD Port 2");
  EXPECT_EQ(board.total_stall_us, 0u);  // an empty port costs no wait
  // One buffer for every probe, given back at exit.
  EXPECT_EQ(board.pages_allocated, 1u);
  shutdown();
  EXPECT_EQ(board.pages_freed, 1u);
}

TEST_F(HddPageTest, CursorStopsAtTheGridEdgesInEveryWidth) {
  const struct {
    int width;
    CellCursor last;
  } cases[] = {{kByte, {17, 48, 15}}, {kWord, {17, 38, 7}}, {kDword, {17, 30, 3}}};
  for (const auto& c : cases) {
    state.width = c.width;
    state.cursor() = CellCursor{};
    pass_scan(kScanUp);
    pass_scan(kScanLeft);
    EXPECT_EQ(state.cursor().row, 2);
    EXPECT_EQ(state.cursor().index, 0);
    state.cursor() = c.last;
    pass_scan(kScanDown);
    pass_scan(kScanRight);
    EXPECT_EQ(state.cursor().row, 17) << c.width;
    EXPECT_EQ(state.cursor().index, c.last.index) << c.width;
    EXPECT_EQ(state.cursor().col, c.last.col) << c.width;
  }
}

TEST_F(HddPageTest, AddressEntryOnlyInWordAndDwordModeAndWritesGoToBasePlusOffset) {
  pass();
  console().push_char(u'p');
  console().push_text(u"00100000");
  pass();
  EXPECT_EQ(state.hdd_buffer, buffer);  // p does nothing in byte mode
  EXPECT_EQ(console().pending_keys(), 8u);
  console().install();

  pass_scan(kScanF7);
  console().push_char(u'p');
  console().push_text(u"0010");
  console().push_scan(kScanEsc);
  pass();
  EXPECT_EQ(state.hdd_buffer, buffer);
  EXPECT_EQ(row_text(0), "HDD Address:        0010F000");  // over the header's digits
  console().push_char(u'p');
  console().push_text(u"00100000");
  pass();
  EXPECT_EQ(state.hdd_buffer, 0x00100000u);
  EXPECT_EQ(state.hdd_port_offset, 0x100);

  state.cursor() = CellCursor{5, 18, 3};
  console().push_char(kCharEnter);
  console().push_text(u"BEEF");
  board.clear_log();
  pass();
  std::vector<sim::Access> stores;
  for (const auto& a : board.log()) {
    if (a.op == sim::Op::kMemWrite && a.addr < 0x01000000) stores.push_back(a);
  }
  EXPECT_EQ(stores, (std::vector<sim::Access>{sim::wr(16, 0x00100036, 0xBEEF)}));
}

}  // namespace
}  // namespace kvq
