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

TEST_F(TextPagesTest, StrapPageWritesEachIndexThenReadsItsDword) {
  auto straps = std::make_unique<sim::SpiStraps>();
  for (uint32_t i = 0; i < 21; ++i) straps->pch_straps.push_back(i == 7 ? 0x12AB : 0xA5000000u | i);
  board.add_mem_device(std::move(straps));
  state.page = PageId::kPchStrap;
  con::clear_screen();
  board.clear_log();
  pass();
  std::vector<sim::Access> expected;
  for (uint32_t i = 0; i < 21; ++i) {
    expected.push_back(sim::wr(32, 0xFED1F8B0, 0x4000 + 4 * i));
    expected.push_back(sim::rd(32, 0xFED1F8B4, i == 7 ? 0x12AB : 0xA5000000u | i));
  }
  EXPECT_EQ(board.log(), expected);

  EXPECT_EQ(row_text(0), std::string(32, ' ') + "PCH Soft Straps");
  EXPECT_EQ(attr_at(32, 0), kAttrLightGreen);
  EXPECT_EQ(row_text(1), "");
  EXPECT_EQ(row_text(2), std::string(33, ' ') + "00:0xA5000000");
  EXPECT_EQ(row_text(9), std::string(33, ' ') + "07:0x000012AB");
  EXPECT_EQ(row_text(22), std::string(33, ' ') + "20:0xA5000014");
  EXPECT_EQ(attr_at(33, 9), kAttrYellow);
  EXPECT_EQ(attr_at(35, 9), kAttrYellow);
  EXPECT_EQ(attr_at(36, 9), kAttrWhite);
  EXPECT_EQ(text_at(21, 24, 3), "KVQ");
}

TEST_F(TextPagesTest, HelpPageIsTheBoxAloneAndIgnoresPageKeys) {
  show(PageId::kHelp);
  for (int row = 0; row < 25; ++row) {
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
  for (int row : {0, 1, 2, 4, 7, 16, 21, 22, 23, 24}) EXPECT_EQ(row_text(row), "") << row;
  EXPECT_EQ(con::attr(), kAttrBlack);

  console().clear_ops();
  for (Key key : {Key{kScanDown, 0}, Key{kScanF7, 0}, Key{0, u'p'}, Key{0, kCharEnter}}) pass_key(key);
  EXPECT_EQ(state.page, PageId::kHelp);
  EXPECT_EQ(console().serial_bytes(), 0u);
}

}  // namespace
}  // namespace kvq
