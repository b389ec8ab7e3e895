// The Memory and I/O pages on the simulated Q35 board.
#include <gtest/gtest.h>

#include "app/colors.h"
#include "platform/sim/paging_sim.h"
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
  // Upper-case P opens the 64-bit entry; Esc leaves the base.
  console().push_char(u'P');
  console().push_text(u"12");
  console().push_scan(kScanEsc);
  pass();
  EXPECT_EQ(state.memory_base, 0xFEC00000u);
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

// A page the tables leave unmapped: dashes, no access to it, no entry.
TEST_F(SpacePagesTest, UnmappedPageShowsDashesAndIsNeverTouched) {
  sim::PageTables tables(board, sim::PageTables::Shape::k4Level, 0x10000000u);
  tables.map(0, 2u << 20, 4096);
  tables.unmap(0x2000);
  board.ram_poke(0x1F80, 0x41);
  state.memory_base = 0x1F80;
  open(PageId::kMemory);
  state.cursor() = CellCursor{10, 3, 0};  // offset 0x80, at 0x2000
  board.clear_log();
  pass();
  EXPECT_EQ(text_at(3, 2, 6), "41 00 ");
  EXPECT_EQ(text_at(3, 10, 6), "-- -- ");
  EXPECT_EQ(attr_at(3, 10), kAttrWhiteOnBlue);
  EXPECT_EQ(attr_at(6, 10), kAttrGray);
  EXPECT_EQ(text_at(33, 19, 4), "0x--");
  EXPECT_EQ(text_at(29, 20, 8), "--------");
  for (const sim::Access& a : board.log()) EXPECT_FALSE(a.addr >= 0x2000 && a.addr < 0x3000) << a;
  // Enter opens no entry there: the digits that follow are the page's keys.
  board.clear_log();
  pass_char(kCharEnter);
  console().push_text(u"5A");
  pass();
  pass();
  for (const sim::Access& a : board.log()) EXPECT_NE(a.op, sim::Op::kMemWrite) << a;
  // Word mode: a cell with one unmapped byte is dashes too.
  pass_scan(kScanF7);
  state.memory_base = 0x1FFF;
  pass();
  EXPECT_EQ(text_at(3, 2, 5), "---- ");
}

// P takes up to 16 digits; PageUp and PageDown cross the 4 GiB line from
// above and wrap at 32 bits below it; nothing past 40 bits is taken.
TEST_F(SpacePagesTest, SixtyFourBitBaseEntryAndSteps) {
  const struct {
    uint64_t base;
    std::u16string keys;  // after the key below
    Key key;
    uint64_t expected;
    const char* title;
    const char* message;  // row 18, nullptr: blank
  } kCases[] = {
      {0x1000, u"E000000000\r", {0, u'P'}, 0xE000000000ull, "Memory Address: 000000E000000000", nullptr},
      {0x1000, u"1\x1b", {0, u'P'}, 0x1000, "Memory Address: 00001000", nullptr},
      {0x1000, u"7FFFFFFFF000\r", {0, u'P'}, 0x1000, "Memory Address: 00001000",
       "7FFFFFFFF000 lies beyond the processor's 40-bit physical address space"},
      {0x100000000ull, u"", {kScanPageUp, 0}, 0xFFFFFF00u, "Memory Address: FFFFFF00", nullptr},
      {0xFFFFFF00u, u"", {kScanPageDown, 0}, 0, "Memory Address: 00000000", nullptr},
      {0x100000000ull, u"", {kScanPageDown, 0}, 0x100000100ull, "Memory Address: 0000000100000100", nullptr},
      {0xFFFFFFFF00ull, u"", {kScanPageDown, 0}, 0xFFFFFFFF00ull, "Memory Address: 000000FFFFFFFF00",
       "10000000000 lies beyond the processor's 40-bit physical address space"},
  };
  for (const auto& c : kCases) {
    state.memory_base = c.base;
    open(PageId::kMemory);
    pass();
    console().push_key(c.key);
    for (char16_t ch : c.keys) {
      if (ch == 0x1b) {
        console().push_scan(kScanEsc);
      } else {
        console().push_char(ch);
      }
    }
    pass();
    pass();
    EXPECT_EQ(state.memory_base, c.expected) << c.title;
    EXPECT_EQ(row_text(0), c.title);
    EXPECT_EQ(row_text(18), c.message != nullptr ? c.message : "") << c.title;
  }
  // Above 4 GiB the cell's address has 16 digits, and a write lands there.
  state.memory_base = 0x100000000ull;
  pass();
  EXPECT_EQ(text_at(11, 19, 21), "0x0000000100000000 ->");
  board.clear_log();
  console().push_char(kCharEnter);
  console().push_text(u"5A");
  pass();
  EXPECT_EQ(board.log().back(), sim::wr(8, 0x100000000ull, 0x5A));
}

}  // namespace
}  // namespace kvq
