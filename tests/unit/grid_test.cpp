// The grid, the bit ruler, cursor movement and the modal inputs, on the
// screen model.
#include <gtest/gtest.h>

#include "app/colors.h"
#include "app/grid.h"
#include "app/input.h"
#include "support.h"

namespace kvq {
namespace {

using test::attr_at;
using test::row_text;
using test::text_at;

class GridTest : public test::KvqTest {
 protected:
  void SetUp() override {
    KvqTest::SetUp();
    con::enable_cursor(false);
  }
  RegisterWindow w;
};

TEST_F(GridTest, ByteGridHasHeadersLabelsAndGrayZeros) {
  for (int i = 0; i < 256; ++i) w.bytes[i] = static_cast<uint8_t>(i);
  CellCursor c;
  draw_grid(w, kByte, c);
  EXPECT_EQ(text_at(3, 1, 47), "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F");
  EXPECT_EQ(attr_at(3, 1), kAttrYellow);
  EXPECT_EQ(text_at(0, 2, 2), "00");
  EXPECT_EQ(text_at(0, 17, 2), "F0");
  EXPECT_EQ(attr_at(0, 17), kAttrYellow);
  EXPECT_EQ(text_at(3, 3, 6), "10 11 ");
  EXPECT_EQ(text_at(48, 17, 2), "FF");
  // Offset 0 is the cursor: digits white on blue, its blank white.
  EXPECT_EQ(attr_at(3, 2), kAttrWhiteOnBlue);
  EXPECT_EQ(attr_at(4, 2), kAttrWhiteOnBlue);
  EXPECT_EQ(attr_at(5, 2), kAttrWhite);
  EXPECT_EQ(attr_at(6, 2), kAttrWhite);  // 01: non-zero
  w.bytes[0x11] = 0;
  draw_grid(w, kByte, c);
  EXPECT_EQ(attr_at(6, 3), kAttrGray);
  EXPECT_EQ(attr_at(3, 3), kAttrWhite);
}

TEST_F(GridTest, WideCellsAreLittleEndianWithTheirHeaders) {
  w.bytes[0] = 0x34;
  w.bytes[1] = 0x12;
  w.bytes[4] = 0x78;
  w.bytes[5] = 0x56;
  w.bytes[6] = 0x34;
  w.bytes[7] = 0x12;
  CellCursor c;
  draw_grid(w, kWord, c);
  EXPECT_EQ(text_at(3, 1, 39), "0100 0302 0504 0706 0908 0B0A 0D0C 0F0E");
  EXPECT_EQ(text_at(3, 2, 15), "1234 0000 5678 ");
  EXPECT_EQ(text_at(38, 17, 4), "0000");
  draw_grid(w, kDword, c);
  EXPECT_EQ(text_at(3, 1, 36), "03020100 07060504 0B0A0908 0F0E0D0C ");
  EXPECT_EQ(text_at(3, 2, 18), "00001234 12345678 ");
  EXPECT_EQ(attr_at(12, 2), kAttrWhite);
  EXPECT_EQ(attr_at(21, 2), kAttrGray);
}

TEST_F(GridTest, AllOnesWindowIsAllWhiteAndRowEndCursorHighlightsItsDigitsOnly) {
  for (auto& b : w.bytes) b = 0xFF;
  CellCursor c{5, 48, 15};
  draw_grid(w, kByte, c);
  for (int r = 2; r <= 17; ++r) {
    for (int i = 0; i < 16; ++i) {
      if (r == 5 && i == 15) continue;
      ASSERT_EQ(attr_at(3 + 3 * i, r), kAttrWhite);
    }
  }
  EXPECT_EQ(attr_at(47, 5), kAttrWhite);
  EXPECT_EQ(attr_at(48, 5), kAttrWhiteOnBlue);
  EXPECT_EQ(attr_at(49, 5), kAttrWhiteOnBlue);
  EXPECT_EQ(attr_at(50, 5), kAttrWhite);
  EXPECT_EQ(cursor_offset(c, kByte), 0x3F);
}

TEST_F(GridTest, RulersPlaceBitZeroUnderTheValuesLastDigit) {
  draw_ruler(0x80000001u, kDword);
  EXPECT_EQ(text_at(27, 19, 10), "0x80000001");
  EXPECT_EQ(row_text(20), "  10000000 00000000 00000000 00000001");
  EXPECT_EQ(attr_at(2, 20), kAttrYellow);
  EXPECT_EQ(attr_at(36, 20), kAttrYellow);
  EXPECT_EQ(attr_at(3, 20), kAttrWhite);
  EXPECT_EQ(attr_at(35, 20), kAttrWhite);
  EXPECT_EQ(row_text(21), "  |  |   |    |   |    |   |    |   |");
  EXPECT_EQ(row_text(22), " 31 28  24   20  16   12   8    4   0");

  con::clear_screen();
  draw_ruler(0xA5, kByte);
  EXPECT_EQ(text_at(33, 19, 4), "0xA5");
  EXPECT_EQ(text_at(29, 20, 8), "10100101");
  EXPECT_EQ(row_text(21), "                             |  |   |");
  EXPECT_EQ(row_text(22), "                             7  4   0");

  con::clear_screen();
  draw_ruler(0x8001, kWord);
  EXPECT_EQ(text_at(31, 19, 6), "0x8001");
  EXPECT_EQ(text_at(20, 20, 17), "10000000 00000001");
  EXPECT_EQ(attr_at(20, 20), kAttrYellow);
  EXPECT_EQ(row_text(22), "                   15 12   8    4   0");
}

TEST_F(GridTest, WidthLabel) {
  draw_width_label(kByte);
  EXPECT_EQ(row_text(1).substr(51), "Data Width : 8 bits");
  draw_width_label(kWord);
  EXPECT_EQ(row_text(1).substr(51), "Data Width : 16 bits");
  draw_width_label(kDword);
  EXPECT_EQ(row_text(1).substr(51), "Data Width : 32 bits");
}

TEST_F(GridTest, ArrowsWrapWithinTheRowAndTheColumn) {
  CellCursor c{5, 48, 15};  // last cell of row 0x30
  move_cursor(c, kByte, kScanRight);
  EXPECT_EQ(c.row, 5);
  EXPECT_EQ(c.col, 3);
  EXPECT_EQ(c.index, 0);
  move_cursor(c, kByte, kScanLeft);
  EXPECT_EQ(c.col, 48);
  EXPECT_EQ(c.index, 15);
  c = CellCursor{2, 9, 2};
  move_cursor(c, kByte, kScanUp);
  EXPECT_EQ(c.row, 17);
  EXPECT_EQ(c.col, 9);
  move_cursor(c, kByte, kScanDown);
  EXPECT_EQ(c.row, 2);

  c = CellCursor{};
  move_cursor(c, kWord, kScanLeft);
  EXPECT_EQ(c.col, 38);
  EXPECT_EQ(c.index, 7);
  move_cursor(c, kWord, kScanRight);
  EXPECT_EQ(c.col, 3);
  c = CellCursor{};
  move_cursor(c, kDword, kScanLeft);
  EXPECT_EQ(c.col, 30);
  EXPECT_EQ(c.index, 3);
  move_cursor(c, kDword, kScanRight);
  EXPECT_EQ(c.col, 3);
  EXPECT_EQ(c.index, 0);
  EXPECT_FALSE(move_cursor(c, kDword, kScanPageUp));
}

TEST_F(GridTest, ValueEntryTakesDigitsWithBackspaceAndEsc) {
  CellCursor c{4, 8, 1};
  uint32_t v = 0;
  // Word mode: 1, 2, Backspace, 3, 4, 5 gives 0x1345.
  console().push_text(u"12\b345");
  ASSERT_TRUE(value_entry(c, 4, &v));
  EXPECT_EQ(v, 0x1345u);
  EXPECT_EQ(text_at(8, 4, 4), "1345");
  EXPECT_EQ(attr_at(8, 4), kAttrLightGreen);

  // Backspace before any digit waits for a digit; other keys are dropped.
  console().push_text(u"\bxZ");
  console().push_scan(kScanUp);
  console().push_text(u"aF");
  ASSERT_TRUE(value_entry(c, 2, &v));
  EXPECT_EQ(v, 0xAFu);
  EXPECT_EQ(console().pending_keys(), 0u);

  // Esc after one digit: nothing.
  console().push_char(u'7');
  console().push_scan(kScanEsc);
  EXPECT_FALSE(value_entry(c, 8, &v));
  EXPECT_FALSE(console().starved);

  // Backspace all the way back: digits on screen are always those taken.
  console().push_text(u"1\b\b4\b45");
  ASSERT_TRUE(value_entry(c, 2, &v));
  EXPECT_EQ(v, 0x45u);
}

TEST_F(GridTest, ValueEntryBlanksTheCellAndFlushesBeforeWaiting) {
  con::set_attr(kAttrWhite);
  con::set_cursor(3, 2);
  con::print(u"AB");
  con::flush();
  console().clear_ops();
  console().push_scan(kScanEsc);
  uint32_t v = 0;
  EXPECT_FALSE(value_entry(CellCursor{}, 2, &v));
  // The blanked cell reached the console before the wait.
  EXPECT_EQ(console().mirror_row(2).substr(3, 2), u"  ");
}

TEST_F(GridTest, DeviceSelectorTakesDecimalPlaces) {
  pci::Bdf d{0, 1, 2, 3};
  console().push_text(u"001F02");
  ASSERT_TRUE(device_selector(&d));
  EXPECT_EQ(d.bus, 0);
  EXPECT_EQ(d.device, 25);  // 1 x 10 + 15
  EXPECT_EQ(d.function, 2);
  EXPECT_EQ(text_at(0, 0, 21), "Bus:00 Dev:1F Fun:02 ");
  EXPECT_EQ(attr_at(4, 0), kAttrLightGreen);
}

TEST_F(GridTest, DeviceSelectorBackspaceAndEsc) {
  pci::Bdf d{0, 1, 2, 3};
  // Backspace ignored on bus and device digits.
  console().push_text(u"\b0\b1\b0\b2");
  // From the function digits it steps back, erasing.
  // From digit 5 on it steps back one digit, erasing it: digit 4 again.
  console().push_text(u"5\b\b34");
  console().push_text(u"\b06");
  ASSERT_TRUE(device_selector(&d));
  EXPECT_EQ(d.bus, 1);
  EXPECT_EQ(d.device, 3);
  EXPECT_EQ(d.function, 6);
  EXPECT_EQ(text_at(0, 0, 21), "Bus:01 Dev:03 Fun:06 ");

  console().push_text(u"00000");
  console().push_scan(kScanEsc);
  EXPECT_FALSE(device_selector(&d));
  EXPECT_EQ(d.device, 3);
}

TEST_F(GridTest, DeviceSelectorRefusesFunctionsOutOfRange) {
  pci::Bdf d{0, 0, 4, 0};
  // Two decimal places of digits up to F reach 165: the bus is always in
  // range, the device and function are not.
  for (const char16_t* typed : {u"000008", u"003200", u"00F000", u"00001F"}) {
    console().push_text(typed);
    EXPECT_FALSE(device_selector(&d)) << test::narrow(typed);
    EXPECT_EQ(d.device, 4);
  }
  console().push_text(u"FF3107");
  ASSERT_TRUE(device_selector(&d));
  EXPECT_EQ(d.bus, 165);
  EXPECT_EQ(d.device, 31);
  EXPECT_EQ(d.function, 7);
}

}  // namespace
}  // namespace kvq
