// Start-up, the global keys, the function tab menu and the footer, on the
// screen model.
#include <gtest/gtest.h>

#include "app/footer.h"
#include "hw/pci.h"
#include "hw/sata.h"
#include "pages/pages.h"
#include "support.h"

namespace kvq {
namespace {

using test::attr_at;
using test::narrow;
using test::row_text;
using test::text_at;

class MainLoopTest : public test::KvqTest {
 protected:
  void SetUp() override {
    KvqTest::SetUp();
    board.add_function(0, 0, 0, 0x8086, 0x29C0);
    board.add_function(0, 31, 0, 0x8086, 0x2918).set8(0x0E, 0x80);
    ahci_ = &board.add_function(0, 31, 2, 0x8086, 0x2922);
    ahci_->set32(0x90, 0x00000040);
  }
  sim::PciFunction* ahci_ = nullptr;
};

const std::string kBannerText = narrow(kBanner);

TEST_F(MainLoopTest, StartsOnThePciePageOfTheFirstFunctionInByteMode) {
  board.function(0, 0, 0)->set32(0x00, 0x29C08086);
  board.add_function(0, 2, 0, 0x1234, 0x1111);
  start();
  EXPECT_EQ(state.page, PageId::kPcie);
  EXPECT_EQ(state.width, kByte);
  EXPECT_EQ(state.device_count, 4);
  EXPECT_EQ(state.list.last_page, 0);
  EXPECT_FALSE(con::screen().cursor_visible());
  pass();
  EXPECT_EQ(text_at(0, 0, 20), "Bus:00 Dev:00 Fun:00");
}

TEST_F(MainLoopTest, WithNoFunctionTheProgramStillStartsOnDeviceZero) {
  board.functions().clear();
  start();
  EXPECT_EQ(state.device_count, 0);
  pass();
  EXPECT_EQ(text_at(0, 0, 20), "Bus:00 Dev:00 Fun:00");
}

TEST_F(MainLoopTest, FooterSitsCentredOnBothScreens) {
  start();
  pass();
  EXPECT_EQ(text_at(21, 24, static_cast<int>(kBannerText.size())), kBannerText);
  EXPECT_EQ(attr_at(21, 24), 0x02);
  EXPECT_EQ(con::attr(), 0x0F);  // white again after the banner
  pass_scan(kScanF5);
  pass();
  EXPECT_EQ(con::screen().cols(), 100);
  EXPECT_EQ(text_at(31, 29, static_cast<int>(kBannerText.size())), kBannerText);
  EXPECT_EQ(attr_at(31, 29), 0x02);
}

TEST_F(MainLoopTest, GlobalKeysActByKindOfPage) {
  start();
  // Grid page: F7 cycles byte, word, dword, byte and clears the screen.
  const uint32_t clears = con::screen().clear_generation();
  pass_scan(kScanF7);
  EXPECT_EQ(state.width, kWord);
  EXPECT_GT(con::screen().clear_generation(), clears);
  pass_scan(kScanF7);
  pass_scan(kScanF7);
  EXPECT_EQ(state.width, kByte);

  // F6 opens the menu in mode 0; F6 on the menu does nothing.
  pass_scan(kScanF6);
  EXPECT_EQ(state.page, PageId::kMenu);
  EXPECT_EQ(con::screen().mode(), 0);
  const uint32_t menu_clears = con::screen().clear_generation();
  pass_scan(kScanF6);
  EXPECT_EQ(state.page, PageId::kMenu);
  EXPECT_EQ(con::screen().clear_generation(), menu_clears);
  // F7 on the menu does nothing.
  pass_scan(kScanF7);
  EXPECT_EQ(state.width, kByte);

  // F5 opens the list in mode 2; F5 and F7 there do nothing.
  pass_scan(kScanF5);
  EXPECT_EQ(state.page, PageId::kPciList);
  EXPECT_EQ(con::screen().mode(), 2);
  const uint32_t list_clears = con::screen().clear_generation();
  pass_scan(kScanF5);
  pass_scan(kScanF7);
  EXPECT_EQ(state.page, PageId::kPciList);
  EXPECT_EQ(state.width, kByte);
  EXPECT_EQ(con::screen().clear_generation(), list_clears);
  // F6 from the list: the menu, back in mode 0.
  pass_scan(kScanF6);
  EXPECT_EQ(state.page, PageId::kMenu);
  EXPECT_EQ(con::screen().mode(), 0);

  // Text page (HELP): F7 nothing, F5 the list.
  state.menu_column = MenuColumn::kOther;
  state.menu_item = 1;
  pass_char(kCharEnter);
  EXPECT_EQ(state.page, PageId::kHelp);
  pass_scan(kScanF7);
  EXPECT_EQ(state.width, kByte);
  pass_scan(kScanF5);
  EXPECT_EQ(state.page, PageId::kPciList);
}

TEST_F(MainLoopTest, EscEndsTheRunFromEveryPage) {
  for (PageId page : {PageId::kPcie, PageId::kMemory, PageId::kIo, PageId::kSuperIo, PageId::kMenu, PageId::kHelp,
                      PageId::kSmbios, PageId::kHdd, PageId::kPchStrap, PageId::kPciList, PageId::kAcpi}) {
    console().install();
    start();
    state.page = page;
    pass();
    EXPECT_FALSE(pass_scan(kScanEsc)) << static_cast<int>(page);
  }
}

// Esc gives the Shell its mode, colour and cursor back (else mode 0), clean.
TEST_F(MainLoopTest, ExitGivesTheConsoleBackAsTheShellHadIt) {
  struct Case {
    int mode;
    uint8_t attr;
    bool cursor;
    int left_mode, cols, rows;
  };
  const Case cases[] = {
      {0, 0x07, true, 0, 80, 25},
      {2, 0x1E, false, 2, 100, 31},
      {1, 0x07, true, 0, 80, 25},  // listed, not supported
  };
  for (const Case& c : cases) {
    console().install({{80, 25}, {0, 0}, {100, 31}}, c.attr, c.mode, c.cursor);
    start();
    pass_scan(kScanF5);  // leave the console in the list mode ...
    pass_scan(kScanF6);  // ... then on the menu, which leaves black on black
    pass();
    EXPECT_FALSE(pass_scan(kScanEsc));
    shutdown();
    EXPECT_EQ(console().mirror_mode, c.left_mode) << c.mode;
    EXPECT_EQ(console().cursor_on, c.cursor) << c.mode;
    EXPECT_EQ(console().cur_attr, c.attr) << c.mode;
    for (int r = 0; r < c.rows; ++r) EXPECT_EQ(narrow(console().mirror_row(r)), std::string(c.cols, ' ')) << r;
    EXPECT_EQ(console().cur_col, 0);
    EXPECT_EQ(console().cur_row, 0);
  }
}

TEST_F(MainLoopTest, MenuDrawsTheOpenColumnInItsColours) {
  start();
  pass_scan(kScanF6);
  pass();
  EXPECT_EQ(text_at(0, 0, 22), " DEVICES    OTHER     ");
  EXPECT_EQ(attr_at(0, 0), 0x20);
  EXPECT_EQ(attr_at(11, 0), 0x70);
  EXPECT_EQ(text_at(0, 1, 11), " PCIE      ");
  EXPECT_EQ(text_at(0, 2, 11), " Memory    ");
  EXPECT_EQ(text_at(0, 3, 11), " I/O       ");
  EXPECT_EQ(text_at(0, 4, 11), " Super I/O ");
  EXPECT_EQ(attr_at(0, 1), 0x1F);
  EXPECT_EQ(attr_at(0, 2), 0x70);
  EXPECT_EQ(text_at(11, 1, 11), "           ");  // only the open column
  EXPECT_EQ(con::attr(), 0x00);
  EXPECT_EQ(text_at(21, 24, static_cast<int>(kBannerText.size())), kBannerText);

  pass_scan(kScanRight);
  pass();
  EXPECT_EQ(attr_at(0, 0), 0x70);
  EXPECT_EQ(attr_at(11, 0), 0x20);
  EXPECT_EQ(text_at(11, 1, 11), " HELP      ");
  EXPECT_EQ(text_at(11, 2, 11), " SMBIOS    ");
  EXPECT_EQ(text_at(11, 3, 11), " HDD       ");
  EXPECT_EQ(text_at(11, 4, 11), " PCH Strap ");
  EXPECT_EQ(text_at(11, 5, 11), " ACPI      ");
  EXPECT_EQ(attr_at(11, 1), 0x1F);
  EXPECT_EQ(text_at(0, 1, 11), "           ");  // DEVICES list cleared away
}

TEST_F(MainLoopTest, MenuItemLimitsAndColumnResets) {
  start();
  pass_scan(kScanF6);
  pass_scan(kScanUp);
  EXPECT_EQ(state.menu_item, 1);
  for (int i = 0; i < 6; ++i) pass_scan(kScanDown);
  EXPECT_EQ(state.menu_item, 5);  // DEVICES ends with CPU
  pass_scan(kScanRight);
  EXPECT_EQ(state.menu_column, MenuColumn::kOther);
  EXPECT_EQ(state.menu_item, 1);
  pass_scan(kScanDown);
  const uint32_t clears = con::screen().clear_generation();
  pass_scan(kScanRight);  // already open: still back to item 1, still cleared
  EXPECT_EQ(state.menu_item, 1);
  EXPECT_GT(con::screen().clear_generation(), clears);
  pass_scan(kScanDown);
  pass_scan(kScanLeft);
  EXPECT_EQ(state.menu_column, MenuColumn::kDevices);
  EXPECT_EQ(state.menu_item, 1);
}

TEST_F(MainLoopTest, MenuEnterOpensEachPageAndTheMenuReopensAsLeft) {
  start();
  const PageId devices[] = {PageId::kPcie, PageId::kMemory, PageId::kIo, PageId::kSuperIo, PageId::kCpu};
  const PageId other[] = {PageId::kHelp, PageId::kSmbios, PageId::kHdd, PageId::kPchStrap, PageId::kAcpi};
  for (int column = 0; column < 2; ++column) {
    for (int item = 1; item <= 5; ++item) {
      pass_scan(kScanF6);
      state.menu_column = static_cast<MenuColumn>(column);
      state.menu_item = item;
      const uint32_t clears = con::screen().clear_generation();
      pass_char(kCharEnter);
      EXPECT_EQ(state.page, (column == 0 ? devices : other)[item - 1]) << column << item;
      EXPECT_GT(con::screen().clear_generation(), clears);
      EXPECT_EQ(con::screen().mode(), 0);
    }
  }
  pass_scan(kScanF6);
  EXPECT_EQ(state.menu_column, MenuColumn::kOther);
  EXPECT_EQ(state.menu_item, 5);
}

TEST_F(MainLoopTest, MenuTakesEnterOnlyWithoutAScanCode) {
  // A terminal's F5 that arrives with a CR is F5.
  start();
  pass_scan(kScanF6);
  pass_key(Key{kScanF5, kCharEnter});
  EXPECT_EQ(state.page, PageId::kPciList);
}

TEST_F(MainLoopTest, HddOpensOnlyInAhciOrRaidModeAndTheMenuClearsEitherWay) {
  start();
  for (uint32_t reg : {0x00u, 0x40u, 0x80u, 0xC0u}) {
    ahci_->set32(0x90, 0x12345600u | reg);
    pass_scan(kScanF6);
    state.menu_column = MenuColumn::kOther;
    state.menu_item = 3;
    board.clear_log();
    const uint32_t clears = con::screen().clear_generation();
    pass_char(kCharEnter);
    const bool opens = reg == 0x40 || reg == 0x80;
    EXPECT_EQ(state.page, opens ? PageId::kHdd : PageId::kMenu) << reg;
    EXPECT_GT(con::screen().clear_generation(), clears);
    // The mode query: the dword, a byte of the data port, the dword again.
    const std::vector<sim::Access> query = {sim::in32(0xCF8, 0), sim::out32(0xCF8, 0x8000FA90), sim::in32(0xCFC, 0x12345600u | reg),
                                            sim::in8(0xCFC, static_cast<uint8_t>(reg)),
                                            sim::in32(0xCFC, 0x12345600u | reg), sim::out32(0xCF8, 0)};
    ASSERT_GE(board.log().size(), 6u);
    EXPECT_EQ(std::vector<sim::Access>(board.log().begin(), board.log().begin() + 6), query);
  }
}

TEST_F(MainLoopTest, SataModeQueryPrintsItsThreeLinesAtTheCursor) {
  ahci_->set32(0x90, 0xAABBCC80);
  con::set_cursor(0, 5);
  EXPECT_TRUE(hdd_can_open(state));
  EXPECT_EQ(row_text(5), "AABBCC80");
  EXPECT_EQ(row_text(6), "80");
  EXPECT_EQ(row_text(7), "80");
}

}  // namespace
}  // namespace kvq
