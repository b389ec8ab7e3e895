// The HDD page on the simulated Q35 board: the boot disk on AHCI port 0,
// ports 1 to 5 empty, ports 6 and 7 not implemented.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "hw/pci.h"
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

// Asked once at start-up (the class of 0:31.2 read before anything), then
// only on `i`: every pass reads the answer afresh from kvq's buffer.
TEST_F(HddPageTest, StartUpAsksPort0OnceThenOnlyIAsksAgain) {
  EXPECT_EQ(board.log()[1], sim::out32(0xCF8, 0x8000FA08));
  EXPECT_EQ(state.hdd_buffer, buffer);
  pass();
  pass();
  EXPECT_EQ(row_text(0).substr(0, 28), "HDD Port 0 Address: 1EEFF000");
  EXPECT_EQ(row_text(18), "Model Name: QEMU HARDDISK                          Size: 0G       ATA Pass Thru");
  EXPECT_EQ(board.ahci->ports[0].identifies, 1);
  board.ram_poke(buffer + 55, 'K');
  pass();
  EXPECT_EQ(row_text(18).substr(0, 16), "Model Name: KEMU");
  pass_char(u'i');
  pass();
  EXPECT_EQ(row_text(18).substr(0, 16), "Model Name: QEMU");
  EXPECT_EQ(board.ahci->ports[0].identifies, 2);
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
  // Without the firmware's pass-thru, a port found with ST set and FRE
  // clear is not asked, and row 18 says why.
  board.ata.clear();
  sata::find_pass_thru();
  board.ahci->ports[0].cmd = 0x8007;
  board.clear_log();
  pass_scan(kScanPageUp);
  pass_scan(kScanPageUp);
  pass();
  EXPECT_EQ(row_text(18), test::narrow(sata::outcome_text(sata::Outcome::kStartedWithoutFis)));
  for (const auto& a : board.log()) EXPECT_TRUE(a.op != sim::Op::kStall && a.op != sim::Op::kMemWrite) << a;
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

// Every disk in order, wrapping: the chipset's ports 0 to 7, the other AHCI
// function's implemented ports, the NVM Express namespaces; each title says
// where its data comes from, and row 18 is written whole.
TEST_F(HddPageTest, DisksOfEveryControllerInOrderAndWrapping) {
  sim::add_ahci_function(board, 8, 0xC2000000u, {.model = "SECOND DISK", .sectors28 = 1000000, .sectors48 = 1000000},
                         0x1D000000u);
  sim::add_nvme(board, 7, {.model = "KVQ NVME", .serial = "SN0001", .namespaces = {{1, 4194304, 9}, {2, 262144, 12}}});
  // One without the active namespace list: the firmware's walk of every ID,
  // each kept when it has blocks.
  sim::add_nvme(board, 6,
                {.model = "OLD NVME", .serial = "SN2", .namespaces = {{3, 2000000, 9}}, .number_of_namespaces = 4,
                 .active_list = false});
  pci::scan(pci::g_devices);
  state.page = PageId::kMenu;
  state.menu_column = MenuColumn::kOther;
  state.menu_item = 3;
  pass_char(kCharEnter);
  ASSERT_EQ(state.page, PageId::kHdd);
  const struct {
    const char* title;  // without the buffer's digits
    const char* line;   // row 18
  } kOrder[] = {
      {"HDD Port 0 Address:", "Model Name: QEMU HARDDISK                          Size: 0G       ATA Pass Thru"},
      {"HDD Port 1 Address:", "No device be detected !"},
      {"HDD Port 2 Address:", "No device be detected !"},
      {"HDD Port 3 Address:", "No device be detected !"},
      {"HDD Port 4 Address:", "No device be detected !"},
      {"HDD Port 5 Address:", "No device be detected !"},
      {"HDD Port 6 Address:", "No device be detected !"},
      {"HDD Port 7 Address:", "No device be detected !"},
      {"HDD 00:08.0 Port 0 Address:", "Model Name: SECOND DISK                            Size: 0G       ATA Pass Thru"},
      {"HDD 00:08.0 Port 1 Address:", "No device be detected !"},
      {"HDD 00:08.0 Port 2 Address:", "No device be detected !"},
      {"HDD 00:08.0 Port 3 Address:", "No device be detected !"},
      {"HDD 00:08.0 Port 4 Address:", "No device be detected !"},
      {"HDD 00:08.0 Port 5 Address:", "No device be detected !"},
      {"NVMe 00:07.0 NS 1 Address:", "Model Name: KVQ NVME  Serial: SN0001               Size: 2G"},
      {"NVMe 00:07.0 NS 2 Address:", "Model Name: KVQ NVME  Serial: SN0001               Size: 1G"},
      {"NVMe 00:06.0 NS 3 Address:", "Model Name: OLD NVME  Serial: SN2                  Size: 1G"},
  };
  const int n = static_cast<int>(sizeof kOrder / sizeof kOrder[0]);
  for (int step = 0; step <= n; ++step) {
    pass();
    const auto& want = kOrder[step % n];
    EXPECT_EQ(row_text(0).substr(0, strlen(want.title)), want.title) << step;
    EXPECT_EQ(row_text(18), want.line) << step;
    // A disk that does not answer gets no read: its cells are dashes.
    const bool none = std::string(want.line) == "No device be detected !";
    EXPECT_EQ(test::text_at(3, 2, 3), none ? "-- " : test::text_at(3, 2, 3)) << step;
    pass_scan(kScanPageDown);
  }
  pass_scan(kScanPageUp);
  pass_scan(kScanPageUp);
  pass();
  EXPECT_EQ(row_text(0).substr(0, 26), "NVMe 00:06.0 NS 3 Address:");
}

}  // namespace
}  // namespace kvq
