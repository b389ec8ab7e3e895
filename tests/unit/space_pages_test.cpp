// The Memory and I/O pages on the simulated Q35 board.
#include <gtest/gtest.h>

#include "app/colors.h"
#include "platform/sim/q35.h"
#include "support.h"

namespace kvq {
namespace {

using test::attr_at;
using test::row_text;
using test::text_at;

class SpacePagesTest : public test::KvqTest {
 protected:
  void SetUp() override {
    KvqTest::SetUp();
    sim::build_q35(board);
    start();
  }
  void open(PageId page) {
    state.page = page;
    con::clear_screen();
  }
};

TEST_F(SpacePagesTest, MemoryPageShowsTitleGridCharactersAndAddress) {
  board.ram_poke(0x1000, 0x2F);
  board.ram_poke(0x1001, 0x30);
  board.ram_poke(0x1002, 0x7A);
  board.ram_poke(0x1003, 0x7B);
  board.ram_poke(0x1004, 0x20);
  state.memory_base = 0x1000;
  open(PageId::kMemory);
  pass();
  EXPECT_EQ(row_text(0), "Memory Address: 00001000");
  EXPECT_EQ(text_at(3, 2, 15), "2F 30 7A 7B 20 ");
  EXPECT_EQ(text_at(51, 2, 16), ".0z.............");
  EXPECT_EQ(attr_at(51, 2), kAttrWhiteOnGreen);  // the cursor's character
  EXPECT_EQ(attr_at(52, 2), kAttrWhite);
  EXPECT_EQ(text_at(19, 19, 13), "0x00001000 ->");
  EXPECT_EQ(text_at(33, 19, 4), "0x2F");
  EXPECT_EQ(text_at(51, 1, 19), "Data Width : 8 bits");
  // No character column in word mode.
  pass_scan(kScanF7);
  pass();
  EXPECT_EQ(text_at(51, 2, 16), std::string(16, ' '));
}

TEST_F(SpacePagesTest, AddressLinePositionsFollowTheWidth) {
  state.memory_base = 0x1000;
  open(PageId::kMemory);
  pass_scan(kScanF7);
  state.cursor() = CellCursor{5, 18, 3};
  pass();
  EXPECT_EQ(text_at(17, 19, 13), "0x00001036 ->");
  pass_scan(kScanF7);
  state.memory_base = 0xFFFFFFF0u;
  state.cursor() = CellCursor{17, 30, 3};
  pass();
  EXPECT_EQ(text_at(13, 19, 13), "0x000000EC ->");

  state.io_base = 0xFFF0;
  open(PageId::kIo);
  pass_scan(kScanF7);  // byte again
  state.cursor() = CellCursor{4, 3, 0};
  pass();
  EXPECT_EQ(row_text(0), "I/O Address : FFF0");
  EXPECT_EQ(text_at(23, 19, 9), "0x0010 ->");
  pass_scan(kScanF7);
  state.cursor() = CellCursor{2, 8, 1};
  pass();
  EXPECT_EQ(text_at(21, 19, 9), "0xFFF2 ->");
  pass_scan(kScanF7);
  state.cursor() = CellCursor{2, 12, 1};
  pass();
  EXPECT_EQ(text_at(17, 19, 9), "0xFFF4 ->");
}

TEST_F(SpacePagesTest, PageKeysMoveTheBaseWithWrap) {
  open(PageId::kMemory);
  state.cursor() = CellCursor{7, 9, 2};
  pass_scan(kScanPageUp);
  EXPECT_EQ(state.memory_base, 0xFFFFFF00u);
  pass_scan(kScanPageDown);
  EXPECT_EQ(state.memory_base, 0u);
  EXPECT_EQ(state.cursor().row, 7);
  open(PageId::kIo);
  pass_scan(kScanPageUp);
  EXPECT_EQ(state.io_base, 0xFF00);
  pass_scan(kScanPageDown);
  EXPECT_EQ(state.io_base, 0);
}

TEST_F(SpacePagesTest, MemoryValueEntryIsOneStoreAtTheCursorAddress) {
  state.memory_base = 0x1000;
  open(PageId::kMemory);
  pass_scan(kScanF7);
  state.cursor() = CellCursor{5, 18, 3};  // word at 0x1036
  console().push_char(kCharEnter);
  board.clear_log();
  console().push_text(u"1234");
  pass();
  size_t stores = 0;
  for (const auto& a : board.log()) {
    if (a.op == sim::Op::kMemWrite) {
      ++stores;
      EXPECT_EQ(a, sim::wr(16, 0x1036, 0x1234));
    }
  }
  EXPECT_EQ(stores, 1u);
  pass();
  EXPECT_EQ(text_at(18, 5, 4), "1234");
  EXPECT_EQ(board.ram_peek(0x1036), 0x34);
}

TEST_F(SpacePagesTest, IoValueEntryWritesBytesFromTheHighPortDown) {
  state.io_base = 0x0070;
  open(PageId::kIo);
  pass_scan(kScanF7);
  console().push_char(kCharEnter);
  console().push_text(u"BEEF");
  board.clear_log();
  pass();
  std::vector<sim::Access> writes;
  for (const auto& a : board.log()) {
    if (a.op == sim::Op::kPortOut) writes.push_back(a);
  }
  EXPECT_EQ(writes, (std::vector<sim::Access>{sim::out8(0x71, 0xBE), sim::out8(0x70, 0xEF)}));

  state.io_base = 0xFFF0;
  pass_scan(kScanF7);  // dword
  state.cursor() = CellCursor{2, 30, 3};  // port 0xFFFC
  state.cursor() = CellCursor{2, 30, 3};
  console().push_char(kCharEnter);
  console().push_text(u"11223344");
  board.clear_log();
  pass();
  writes.clear();
  for (const auto& a : board.log()) {
    if (a.op == sim::Op::kPortOut) writes.push_back(a);
    EXPECT_NE(a.width, 32);  // nothing wider than a byte on the I/O page
  }
  EXPECT_EQ(writes, (std::vector<sim::Access>{sim::out8(0xFFFF, 0x11), sim::out8(0xFFFE, 0x22),
                                              sim::out8(0xFFFD, 0x33), sim::out8(0xFFFC, 0x44)}));
}

TEST_F(SpacePagesTest, MemoryAddressEntryWithEscAndBackspace) {
  state.memory_base = 0x12345678;
  open(PageId::kMemory);
  pass();
  console().push_char(u'p');
  console().push_text(u"ABC");
  console().push_scan(kScanEsc);
  pass();
  EXPECT_EQ(state.memory_base, 0x12345678u);
  pass();
  EXPECT_EQ(row_text(0), "Memory Address: 12345678");
  EXPECT_EQ(attr_at(0, 0), kAttrWhite);

  // Backspace erases and retakes the previous digit; no Enter needed.
  console().push_char(u'p');
  console().push_text(u"FEE\bD\b\bEC00000");
  pass();
  EXPECT_EQ(state.memory_base, 0xFEC00000u);
  EXPECT_EQ(text_at(16, 0, 8), "FEC00000");
  EXPECT_EQ(attr_at(16, 0), kAttrLightGreen);
  EXPECT_EQ(console().pending_keys(), 0u);
  pass();
  EXPECT_EQ(row_text(0), "Memory Address: FEC00000");
  // Upper-case P does nothing.
  pass_char(u'P');
  EXPECT_EQ(console().pending_keys(), 0u);
  EXPECT_FALSE(console().starved);
}

TEST_F(SpacePagesTest, IoAddressEntryTakesFourDigitsAndTheFifthKeyIsThePages) {
  open(PageId::kIo);
  pass();
  console().push_char(u'p');
  console().push_text(u"0\b07\b0");  // Backspace is ignored: 0, 0, 7, 0
  console().push_scan(kScanPageDown);
  pass();
  EXPECT_EQ(state.io_base, 0x0070);
  EXPECT_EQ(console().pending_keys(), 1u);
  pass();  // the fifth key
  EXPECT_EQ(state.io_base, 0x0170);
  console().push_char(u'p');
  console().push_text(u"00");
  console().push_scan(kScanEsc);
  pass();
  EXPECT_EQ(state.io_base, 0x0170);
}

TEST_F(SpacePagesTest, IoPageShowsTheCmosIndexAndDataPair) {
  state.io_base = 0x0070;
  open(PageId::kIo);
  pass();
  EXPECT_EQ(row_text(0), "I/O Address : 0070");
  EXPECT_EQ(text_at(3, 2, 3), "FF ");  // the index port reads FF
}

TEST_F(SpacePagesTest, SGoesFromPcieToMemoryAndBackAndDoesNothingOnIo) {
  // To the e1000e at 00:04.0 (PCI Express).
  while (!(state.device.device == 4)) pass_scan(kScanPageDown);
  pass();
  pass_char(u'S');
  EXPECT_EQ(state.page, PageId::kMemory);
  pass();
  EXPECT_EQ(row_text(0), "Memory Address: B0020000");
  EXPECT_EQ(text_at(3, 2, 12), "86 80 D3 10 ");  // the same ID bytes
  // A byte typed at 0x3C of the memory-mapped space reaches configuration
  // space.
  state.cursor() = CellCursor{5, 39, 12};
  console().push_char(kCharEnter);
  console().push_text(u"5A");
  pass();
  EXPECT_EQ(board.function(0, 4, 0)->cfg[0x3C], 0x5A);
  const uint32_t clears = con::screen().clear_generation();
  pass_char(u's');
  EXPECT_EQ(state.page, PageId::kPcie);
  EXPECT_GT(con::screen().clear_generation(), clears);
  pass();
  EXPECT_EQ(text_at(51, 13, 16), "PCI IRQ#    : 5A");

  open(PageId::kIo);
  pass_char(u'S');
  EXPECT_EQ(state.page, PageId::kIo);
  pass_char(u's');
  EXPECT_EQ(state.page, PageId::kIo);
}

TEST_F(SpacePagesTest, IdleMemoryPageOverUnchangingRamSendsNothing) {
  state.memory_base = 0x10000;
  open(PageId::kMemory);
  pass();
  pass();
  console().clear_ops();
  for (int i = 0; i < 5; ++i) pass();
  EXPECT_TRUE(console().ops.empty());
}

}  // namespace
}  // namespace kvq
