// The Memory and I/O pages on the simulated Q35 board.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "app/colors.h"
#include "pages/space_page.h"
#include "platform/sim/apic_sim.h"
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
  EXPECT_EQ(row_text(0), "Memory Address: 00001000 RAM");
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

// One OUT of the width.
TEST_F(SpacePagesTest, IoValueEntryIsOneOutOfItsWidth) {
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
  EXPECT_EQ(writes, (std::vector<sim::Access>{sim::out16(0x70, 0xBEEF)}));

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
  }
  EXPECT_EQ(writes, (std::vector<sim::Access>{sim::out32(0xFFFC, 0x11223344)}));
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
  EXPECT_EQ(row_text(0), "Memory Address: 12345678 RAM");
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
  EXPECT_EQ(row_text(0), "Memory Address: FEC00000 MMIO");
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
  EXPECT_EQ(row_text(0), "Memory Address: B0020000 reserved");
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

// Row 0 names the page's type from the memory space map; a page the map
// calls non-existent is never touched. Without a map nothing is held back.
TEST_F(SpacePagesTest, RowZeroNamesTheMemoryTypeAndNoneIsNeverTouched) {
  const struct {
    uint64_t base;
    bool map, read;
    const char* title;
  } kCases[] = {
      {0x1000, true, true, "Memory Address: 00001000 RAM"},
      {0xB0000000u, true, true, "Memory Address: B0000000 reserved"},
      {0xC1020000u, true, true, "Memory Address: C1020000 MMIO"},
      {0x40000000u, true, false, "Memory Address: 40000000 none"},
      {0x40000000u, false, true, "Memory Address: 40000000"},
  };
  for (const auto& c : kCases) {
    if (!c.map) board.memory_space.clear();
    state.memory_base = c.base;
    open(PageId::kMemory);
    board.clear_log();
    pass();
    EXPECT_EQ(row_text(0), c.title);
    EXPECT_EQ(text_at(3, 2, 3) == "-- ", !c.read) << c.title;
    const bool touched = std::any_of(board.log().begin(), board.log().end(),
                                     [&](const sim::Access& a) { return a.addr - c.base < 256; });
    EXPECT_EQ(touched, c.read) << c.title;
  }
}

// The local APIC (at IA32_APIC_BASE) and an I/O APIC the MADT lists take
// only aligned dwords, in every width; a narrower store is refused on row
// 18. The board's APICs record any other access as a fault.
TEST_F(SpacePagesTest, ApicPagesTakeOnlyAlignedDwords) {
  auto io = std::make_unique<sim::ApicPage>(board, 0xFEC00000u, sim::ApicPage::Kind::kIo);
  io->select = 1;  // IOWIN shows the version register
  board.add_mem_device(std::move(io));
  sim::install_madt(board, 0x1F7F0000u, sim::kQ35LocalApic, {0xFEC00000u});
  start();
  const char* refused = "FEE00030 is an APIC register: aligned dwords only: nothing was written.";
  const struct {
    uint64_t base;
    int width, row;  // the screen row of the cells, and of the cell typed into
    const char* cells;
    std::u16string typed;
    std::vector<sim::Access> writes;
    const char* message;
  } kCases[] = {
      {0xFEE00000u, kByte, 5, "14 00 05 00 ", u"10", {}, refused},
      {0xFEE00000u, kWord, 5, "0014 0005 ", u"0010", {}, refused},
      {0xFEE00002u, kDword, 5, "00000005 ", u"", {}, ""},  // an unaligned base: bytes of the dwords
      {0xFEE00000u, kDword, 5, "00050014 ", u"00000010", {sim::wr(32, 0xFEE00030u, 0x10)}, ""},
      {0xFEC00000u, kByte, 3, "20 00 17 00 ", u"", {}, ""},
  };
  for (const auto& c : kCases) {
    state.memory_base = c.base;
    state.width = c.width;
    open(PageId::kMemory);
    state.cursor() = CellCursor{c.row, 3, 0};
    pass();
    EXPECT_EQ(text_at(3, c.row, static_cast<int>(strlen(c.cells))), c.cells) << c.base << " " << c.width;
    board.clear_log();
    if (!c.typed.empty()) {
      console().push_char(kCharEnter);
      console().push_text(c.typed);
      pass();
    }
    std::vector<sim::Access> writes;
    std::copy_if(board.log().begin(), board.log().end(), std::back_inserter(writes),
                 [](const sim::Access& a) { return a.op == sim::Op::kMemWrite; });
    EXPECT_EQ(writes, c.writes) << c.base << " " << c.width;
    EXPECT_EQ(row_text(18), c.message);
    EXPECT_EQ(board.faults, std::vector<sim::Access>{});
    blank_message_row();
  }
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
      {0x1000, u"E000000000\r", {0, u'P'}, 0xE000000000ull, "Memory Address: 000000E000000000 MMIO", nullptr},
      {0x1000, u"1\x1b", {0, u'P'}, 0x1000, "Memory Address: 00001000 RAM", nullptr},
      {0x1000, u"7FFFFFFFF000\r", {0, u'P'}, 0x1000, "Memory Address: 00001000 RAM",
       "7FFFFFFFF000 lies beyond the processor's 40-bit physical address space"},
      {0x100000000ull, u"", {kScanPageUp, 0}, 0xFFFFFF00u, "Memory Address: FFFFFF00 MMIO", nullptr},
      {0xFFFFFF00u, u"", {kScanPageDown, 0}, 0, "Memory Address: 00000000 RAM", nullptr},
      {0x100000000ull, u"", {kScanPageDown, 0}, 0x100000100ull, "Memory Address: 0000000100000100 none", nullptr},
      {0xFFFFFFFF00ull, u"", {kScanPageDown, 0}, 0xFFFFFFFF00ull, "Memory Address: 000000FFFFFFFF00 MMIO",
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
  state.memory_base = 0xE000000000ull;
  pass();
  EXPECT_EQ(text_at(11, 19, 21), "0x000000E000000000 ->");
  board.clear_log();
  console().push_char(kCharEnter);
  console().push_text(u"5A");
  pass();
  EXPECT_EQ(board.log().back(), sim::wr(8, 0xE000000000ull, 0x5A));
}

}  // namespace
}  // namespace kvq
