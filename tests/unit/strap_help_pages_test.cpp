// The PCH Strap and HELP pages.
#include <gtest/gtest.h>

#include "app/colors.h"
#include "platform/sim/spi_straps.h"
#include "support.h"

namespace kvq {
namespace {

using test::attr_at;
using test::row_text;
using test::text_at;

class TextPagesTest : public test::KvqTest {
 protected:
  void SetUp() override {
    KvqTest::SetUp();
    start();
  }
  void show(PageId page) {
    state.page = page;
    con::clear_screen();
    pass();
  }
};

// The controller is found where the chipset puts it: behind RCBA, or the
// function at 0:31.5 on later chipsets; with neither, nothing is written.
TEST_F(TextPagesTest, StrapPageFindsTheControllerThenWritesEachIndexAndReadsItsDword) {
  const struct {
    const char* what;
    uint32_t rcba;                // 0:31.0 register F0h; 0: no such function
    uint32_t spi_bar0;            // 0:31.5 BAR0; 0: no such function
    uint64_t fdoc;                // where the writes go; 0: none
    bool valid;                   // HSFS.FDV
  } kCases[] = {
      {"RCBA", 0xFED1C001u, 0, 0xFED1F8B0u, true},
      {"RCBA, no descriptor", 0xFED1C001u, 0, 0xFED1F8B0u, false},
      {"RCBA disabled: the SPI function", 0xFED1C000u, 0xFE010000u, 0xFE0100B4u, true},
      {"neither", 0xFED1C000u, 0, 0, true},
  };
  for (const auto& c : kCases) {
    sim::Board b;
    sim::set_board(&b);
    start();
    if (c.rcba != 0) b.add_function(0, 31, 0, 0x8086, 0x2918).set32(0xF0, c.rcba);
    if (c.spi_bar0 != 0) b.add_function(0, 31, 5, 0x8086, 0xA324).set32(0x10, c.spi_bar0);
    auto straps = c.spi_bar0 != 0 ? std::make_unique<sim::SpiStraps>(c.spi_bar0, sim::SpiStraps::kPchFdoc)
                                  : std::make_unique<sim::SpiStraps>();
    for (uint32_t i = 0; i < 21; ++i) straps->pch_straps.push_back(i == 7 ? 0x12AB : 0xA5000000u | i);
    straps->descriptor_valid = c.valid;
    b.add_mem_device(std::move(straps));
    state.page = PageId::kPchStrap;
    con::clear_screen();
    b.clear_log();
    pass();
    std::vector<sim::Access> pairs;
    for (const sim::Access& a : b.log()) {
      if (a.op == sim::Op::kMemWrite || (a.op == sim::Op::kMemRead && a.width == 32)) pairs.push_back(a);
    }
    std::vector<sim::Access> expected;
    for (uint32_t i = 0; c.fdoc != 0 && i < 21; ++i) {
      expected.push_back(sim::wr(32, c.fdoc, 0x4000 + 4 * i));
      expected.push_back(sim::rd(32, c.fdoc + 4, i == 7 ? 0x12AB : 0xA5000000u | i));
    }
    EXPECT_EQ(pairs, expected) << c.what;
    EXPECT_EQ(row_text(0), std::string(32, ' ') + "PCH Soft Straps") << c.what;
    EXPECT_EQ(row_text(2), std::string(c.fdoc != 0 ? 33 : 32, ' ') +
                               (c.fdoc != 0 ? "00:0xA5000000" : "No flash controller found")) << c.what;
    EXPECT_EQ(row_text(23).empty(), c.valid) << c.what;
    if (&c == &kCases[0]) {
      EXPECT_EQ(row_text(9), std::string(33, ' ') + "07:0x000012AB");
      EXPECT_EQ(row_text(22), std::string(33, ' ') + "20:0xA5000014");
      EXPECT_EQ(attr_at(32, 0), kAttrLightGreen);
      EXPECT_EQ(attr_at(33, 9), kAttrYellow);
      EXPECT_EQ(attr_at(36, 9), kAttrWhite);
      EXPECT_EQ(text_at(21, 24, 3), "KVQ");
    }
  }
  sim::set_board(&board);
}

TEST_F(TextPagesTest, HelpPageIsTheBoxAndTheOtherKeysAndIgnoresPageKeys) {
  show(PageId::kHelp);
  for (int row = 0; row < 22; ++row) {
    for (int col = 0; col < 80; ++col) {
      const bool box = row >= 3 && row <= 21 && col >= 13 && col <= 64;
      const uint8_t attr = !box ? con::screen().clear_attr() : (row == 3 ? kAttrWhiteOnBlue : 0x71);
      ASSERT_EQ(attr_at(col, row), attr) << col << "," << row;
    }
  }
  EXPECT_EQ(row_text(3), std::string(31, ' ') + "KVQ User Manual");
  EXPECT_EQ(row_text(5), std::string(13, ' ') + " Tavik's Debug Utility Version 1.0.9 for UEFI Shell");
  EXPECT_EQ(text_at(13, 6, 2).front(), ' ');  // the credit line
  EXPECT_NE(text_at(13, 6, 2).back(), ' ');
  EXPECT_EQ(row_text(15), std::string(13, ' ') + " Arrow/PageUp/PageDown Key to Move ...");
  for (int row : {0, 1, 2, 4, 7, 16, 21}) EXPECT_EQ(row_text(row), "") << row;
  EXPECT_EQ(row_text(22), " P 64-bit address (Memory)   c next capability   C capabilities (PCIE)");
  EXPECT_EQ(row_text(24), " Variables: / filter, Enter open, Esc back; p offset, PageUp/PageDown 256 bytes");
  EXPECT_EQ(con::attr(), kAttrBlack);

  console().clear_ops();
  for (Key key : {Key{kScanDown, 0}, Key{kScanF7, 0}, Key{0, u'p'}, Key{0, kCharEnter}}) pass_key(key);
  EXPECT_EQ(state.page, PageId::kHelp);
  EXPECT_EQ(console().serial_bytes(), 0u);
}

}  // namespace
}  // namespace kvq
