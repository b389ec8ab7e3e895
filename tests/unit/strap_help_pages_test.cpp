// The PCH Strap and HELP pages.
#include <gtest/gtest.h>

#include "app/colors.h"
#include "platform/sim/q35.h"
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

constexpr uint32_t kSpiBar = 0xFE010000u;
constexpr uint32_t kFdocBefore = 0x1008;  // what the firmware left selected

// The bridge at 0:31.0 names the generation; the generation says where the
// controller is. FDOC is read first and put back last; in between, FLMAP1
// through the descriptor map, then each strap's index written and its dword
// read. Elsewhere nothing is written at all.
TEST_F(TextPagesTest, StrapPageFindsTheControllerWhereTheChipsetTableSays) {
  const struct {
    const char* what;
    uint16_t bridge;  // Intel device ID at 0:31.0
    uint32_t rcba;    // its register F0h
    struct { int device, function; uint16_t vendor; uint32_t klass; uint16_t command; } spi;  // device 0: none
    uint64_t fdoc;  // where the writes go; 0: none
    const char* message;
  } kCases[] = {
      {"ICH9 (Q35): RCBA + 3800h", 0x2918, 0xFED1C001u, {}, 0xFED1F8B0u, nullptr},
      {"ICH8: RCBA + 3020h", 0x2810, 0xFED1C001u, {}, 0xFED1F0D0u, nullptr},
      {"ICH9 with RCBA off", 0x2918, 0xFED1C000u, {31, 5, 0x8086, 0x0C800010, 6}, 0, "No flash controller found"},
      {"100 series: 0:31.5", 0xA143, 0, {31, 5, 0x8086, 0x0C800010, 6}, kSpiBar + 0xB4, nullptr},
      {"0:31.5 not Intel's", 0xA143, 0, {31, 5, 0x10EC, 0x0C800010, 6}, 0, "No flash controller found"},
      {"0:31.5 Ethernet", 0xA143, 0, {31, 5, 0x8086, 0x02000010, 6}, 0, "No flash controller found"},
      {"0:31.5 memory space off", 0xA143, 0, {31, 5, 0x8086, 0x0C800010, 4}, 0, "No flash controller found"},
      {"Apollo Lake: 0:13.2", 0x5AE8, 0, {13, 2, 0x8086, 0x0C800010, 6}, kSpiBar + 0xB4, nullptr},
      {"ICH7", 0x27B8, 0xFED1C001u, {}, 0, "ICH7: not supported on this chipset"},
      {"Bay Trail", 0x0F1C, 0xFED1C001u, {}, 0, "Bay Trail/Avoton: not supported on this chipset"},
      {"an unknown bridge", 0x1234, 0xFED1C001u, {31, 5, 0x8086, 0x0C800010, 6}, 0, "No flash controller found"},
  };
  for (const auto& c : kCases) {
    sim::Board b;
    sim::set_board(&b);
    start();
    sim::PciFunction& lpc = b.add_function(0, 31, 0, 0x8086, c.bridge);
    lpc.set32(0x08, 0x06010000);
    lpc.set32(0xF0, c.rcba);
    if (c.spi.device != 0) {
      sim::PciFunction& f = b.add_function(0, c.spi.device, c.spi.function, c.spi.vendor, 0xA324);
      f.set32(0x08, c.spi.klass);
      f.set16(0x04, c.spi.command);
      f.set32(0x10, kSpiBar);
    }
    auto straps = c.spi.device != 0 ? std::make_unique<sim::SpiStraps>(kSpiBar, sim::SpiStraps::kPchFdoc)
                                    : std::make_unique<sim::SpiStraps>(c.bridge == 0x2810 ? 0xFED1F020u : 0xFED1F800u);
    for (uint32_t i = 0; i < 21; ++i) straps->pch_straps.push_back(i == 7 ? 0x12AB : 0xA5000000u | i);
    straps->set_fdoc(kFdocBefore);
    sim::SpiStraps& spi = *straps;
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
    if (c.fdoc != 0) {
      expected = {sim::rd(32, c.fdoc, kFdocBefore), sim::wr(32, c.fdoc, 0x0008), sim::rd(32, c.fdoc + 4, 21u << 24)};
      for (uint32_t i = 0; i < 21; ++i) {
        expected.push_back(sim::wr(32, c.fdoc, 0x4000 + 4 * i));
        expected.push_back(sim::rd(32, c.fdoc + 4, i == 7 ? 0x12AB : 0xA5000000u | i));
      }
      expected.push_back(sim::wr(32, c.fdoc, kFdocBefore));
    }
    EXPECT_EQ(pairs, expected) << c.what;
    EXPECT_EQ(spi.fdoc(), kFdocBefore) << c.what;
    EXPECT_EQ(row_text(2), c.message ? std::string(32, ' ') + c.message : std::string(33, ' ') + "00:0xA5000000")
        << c.what;
    if (&c == &kCases[0]) {
      EXPECT_EQ(row_text(0), std::string(32, ' ') + "PCH Soft Straps");
      EXPECT_EQ(row_text(9), std::string(33, ' ') + "07:0x000012AB");
      EXPECT_EQ(row_text(22), std::string(33, ' ') + "20:0xA5000014");
      EXPECT_EQ(row_text(23), "");
      EXPECT_EQ(attr_at(32, 0), kAttrLightGreen);
      EXPECT_EQ(attr_at(33, 9), kAttrYellow);
      EXPECT_EQ(attr_at(36, 9), kAttrWhite);
      EXPECT_EQ(text_at(21, 24, 3), "KVQ");
    }
  }
  sim::set_board(&board);
}

// How many straps: FLMAP1.PSL with a valid descriptor, 21 rows at a time,
// PageDown and PageUp between them; 21 without one, and a line that says so.
TEST_F(TextPagesTest, StrapCountComesFromTheDescriptor) {
  const char* const kNoDescriptor = "No valid flash descriptor (HSFS.FDV is 0): these dwords are not soft straps.";
  const struct {
    bool valid;
    std::vector<uint16_t> keys;
    int first, last;  // the straps read
    const char* note;
  } kCases[] = {
      {false, {kScanPageDown}, 0, 20, kNoDescriptor},
      {true, {}, 0, 20, "Straps 0-20 of 35: PageUp PageDown"},
      {true, {kScanPageDown, kScanPageDown}, 21, 34, "Straps 21-34 of 35: PageUp PageDown"},
      {true, {kScanPageDown, kScanPageUp}, 0, 20, "Straps 0-20 of 35: PageUp PageDown"},
  };
  for (const auto& c : kCases) {
    sim::Board b;
    sim::set_board(&b);
    sim::build_q35(b);
    start();
    auto straps = std::make_unique<sim::SpiStraps>();
    for (uint32_t i = 0; i < 35; ++i) straps->pch_straps.push_back(0xB0000000u | i);
    straps->descriptor_valid = c.valid;
    b.add_mem_device(std::move(straps));
    state.page = PageId::kPchStrap;
    con::clear_screen();
    for (uint16_t k : c.keys) pass_scan(k);
    b.clear_log();
    pass();
    std::vector<int> read;
    for (const sim::Access& a : b.log()) {
      if (a.op == sim::Op::kMemWrite && (a.value & 0x7000) == 0x4000) read.push_back(static_cast<int>(a.value & 0xFFC) / 4);
    }
    ASSERT_FALSE(read.empty());
    EXPECT_EQ((std::vector<int>{read.front(), read.back()}), (std::vector<int>{c.first, c.last})) << c.note;
    EXPECT_EQ(row_text(2 + c.last - c.first).substr(33, 3), std::to_string(c.last) + ":") << c.note;
    EXPECT_EQ(row_text(23), c.note);
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
