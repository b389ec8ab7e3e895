// The PCI list page on boards of 10, 30 and 50 functions.
#include <gtest/gtest.h>

#include "app/colors.h"
#include "support.h"

namespace kvq {
namespace {

using test::attr_at;
using test::row_text;
using test::text_at;

class PciListTest : public test::KvqTest {
 protected:
  // `count` functions: Intel 82574L NICs on bus 0, devices 1.., function 0,
  // except that function 2 of every fifth has an unknown device ID.
  void make_board(int count) {
    for (int i = 0; i < count; ++i) {
      const uint16_t id = i % 5 == 4 ? 0xFFF0 : 0x10D3;
      board.add_function(i / 8, i % 8 + 1, 0, 0x8086, id);
    }
    start();
    pass_scan(kScanF5);
    pass();
  }
  std::string device_line() { return text_at(33, 27, 16); }
  std::string page_line() { return text_at(54, 27, 14); }
};

TEST_F(PciListTest, RowsShowPrefixAndFittedNameInTheirColours) {
  make_board(10);
  EXPECT_EQ(con::screen().cols(), 100);
  EXPECT_EQ(text_at(0, 0, 100), "BUS DEV FUN  DID VID NAME" + std::string(67, ' ') + "PCI LIST");
  EXPECT_EQ(attr_at(0, 0), kAttrWhiteOnBlue);
  const std::string name = "Intel 82574L Gigabit Network Connection";
  EXPECT_EQ(text_at(0, 1, 100), "000 001 000 10D38086 " + name + std::string(79 - name.size(), ' '));
  EXPECT_EQ(attr_at(0, 1), kAttrWhiteOnGreen);
  EXPECT_EQ(attr_at(99, 1), kAttrWhiteOnGreen);
  EXPECT_EQ(text_at(0, 2, 21), "000 002 000 10D38086 ");
  EXPECT_EQ(attr_at(0, 2), kAttrGray);
  EXPECT_EQ(attr_at(50, 2), kAttrGray);
  // Unknown device: prefix, then 79 blanks in the row's colour.
  EXPECT_EQ(text_at(0, 5, 100), "000 005 000 FFF08086 " + std::string(79, ' '));
  EXPECT_EQ(attr_at(50, 5), kAttrGray);
  // Empty slots are black.
  EXPECT_EQ(row_text(11), "");
  EXPECT_EQ(attr_at(0, 11), kAttrBlack);
  EXPECT_EQ(device_line(), "DEVICE : 001/010");
  EXPECT_EQ(page_line(), "PAGE : 001/001");
  // Unknown device on the selected row: the bar spans the whole line.
  for (int i = 0; i < 4; ++i) pass_scan(kScanDown);
  pass();
  EXPECT_EQ(attr_at(99, 5), kAttrWhiteOnGreen);
  EXPECT_EQ(attr_at(0, 1), kAttrGray);
}

TEST_F(PciListTest, TenDevicesMakeOnePage) {
  make_board(10);
  pass_scan(kScanPageDown);
  pass_scan(kScanPageUp);
  EXPECT_EQ(state.list.page, 0);
  EXPECT_EQ(state.list.row, 1);
  for (int i = 0; i < 20; ++i) pass_scan(kScanDown);
  EXPECT_EQ(state.list.row, 10);
  pass_scan(kScanUp);
  EXPECT_EQ(state.list.row, 9);
  for (int i = 0; i < 20; ++i) pass_scan(kScanUp);
  EXPECT_EQ(state.list.row, 1);
}

TEST_F(PciListTest, ThirtyDevicesMakeTwoPages) {
  make_board(30);
  EXPECT_EQ(page_line(), "PAGE : 001/002");
  for (int i = 0; i < 30; ++i) pass_scan(kScanDown);
  EXPECT_EQ(state.list.row, 25);  // Down on row 25 does not turn the page
  EXPECT_EQ(state.list.page, 0);
  pass_scan(kScanPageDown);
  pass();
  EXPECT_EQ(state.list.page, 1);
  EXPECT_EQ(state.list.row, 5);
  EXPECT_EQ(device_line(), "DEVICE : 030/030");
  EXPECT_EQ(page_line(), "PAGE : 002/002");
  EXPECT_EQ(text_at(0, 1, 12), "003 002 000 ");  // device 26 of the table
  EXPECT_EQ(text_at(0, 5, 12), "003 006 000 ");
  for (int r = 6; r <= 25; ++r) EXPECT_EQ(row_text(r), "") << r;
  pass_scan(kScanDown);
  EXPECT_EQ(state.list.row, 5);
  pass_scan(kScanUp);
  pass_scan(kScanUp);
  pass_scan(kScanUp);
  pass_scan(kScanUp);
  pass();
  EXPECT_EQ(device_line(), "DEVICE : 026/030");
  pass_scan(kScanUp);  // row 1: does not go back a page
  EXPECT_EQ(state.list.page, 1);
  pass_scan(kScanDown);
  pass_scan(kScanPageUp);  // keeps the row
  EXPECT_EQ(state.list.page, 0);
  EXPECT_EQ(state.list.row, 2);
}

TEST_F(PciListTest, FiftyDevicesSelectRow25OfTheSecondPage) {
  make_board(50);
  pass_scan(kScanPageDown);
  pass();
  EXPECT_EQ(state.list.row, 25);
  EXPECT_EQ(device_line(), "DEVICE : 050/050");
  EXPECT_EQ(page_line(), "PAGE : 002/002");
  pass_scan(kScanPageDown);
  EXPECT_EQ(state.list.page, 1);
}

TEST_F(PciListTest, DrawingLeavesTheCurrentFunctionAndOnlyEnterChangesIt) {
  make_board(30);
  pass_scan(kScanF6);
  pass_scan(kScanF5);
  for (int i = 0; i < 3; ++i) pass();
  EXPECT_EQ(state.table_index, 0);
  EXPECT_EQ(state.device.device, 1);
  pass_scan(kScanPageDown);
  pass_scan(kScanUp);  // row 4 of page 2: table index 28
  pass_scan(kScanF6);  // F6 leaves the function as it was
  EXPECT_EQ(state.page, PageId::kMenu);
  EXPECT_EQ(state.table_index, 0);
  EXPECT_EQ(state.device.bus, 0);
  EXPECT_EQ(state.device.device, 1);
  pass_scan(kScanF5);  // the list comes back as it was left
  EXPECT_EQ(state.list.page, 1);
  EXPECT_EQ(state.list.row, 4);
  pass_char(kCharEnter);
  EXPECT_EQ(state.page, PageId::kPcie);
  EXPECT_EQ(con::screen().mode(), 0);
  EXPECT_EQ(state.table_index, 28);
  EXPECT_EQ(state.device.bus, 3);
  EXPECT_EQ(state.device.device, 5);
  pass();
  EXPECT_EQ(row_text(0), "Bus:03 Dev:05 Fun:00");
  pass_scan(kScanPageDown);  // PageDown continues from the chosen entry
  EXPECT_EQ(state.table_index, 29);
}

TEST_F(PciListTest, EmptyTableShowsHeaderAndSelectedBlankRow) {
  make_board(0);
  EXPECT_EQ(device_line(), "DEVICE : 001/000");
  EXPECT_EQ(page_line(), "PAGE : 001/001");
  pass_scan(kScanDown);
  EXPECT_EQ(state.list.row, 1);
  pass_scan(kScanPageDown);
  EXPECT_EQ(state.list.page, 0);
}

}  // namespace
}  // namespace kvq
