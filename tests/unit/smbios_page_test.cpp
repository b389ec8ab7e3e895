// The SMBIOS page: where the entry point comes from, which structures and
// strings its twelve lines show, and that the walk never leaves the table.
#include <gtest/gtest.h>

#include <random>

#include "platform/sim/smbios_tables.h"
#include "support.h"

namespace kvq {
namespace {

using sim::SmbiosEntry;
using sim::SmbiosLayout;
using sim::SmbiosStructure;
using test::row_text;

constexpr int kValueCol = 26;
constexpr int kRows[12] = {3, 4, 5, 7, 8, 9, 10, 11, 13, 14, 15, 16};

// Formatted areas after the header, with the string numbers kvq reads.
SmbiosStructure bios(uint8_t vendor, uint8_t version, uint8_t date, std::vector<std::string> strings) {
  return {0, {vendor, version, 0x00, 0xE8, date, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}, std::move(strings)};
}
// SMBIOS 2.4 and later: 1Bh bytes, the SKU number at 19h.
SmbiosStructure system(std::vector<uint8_t> numbers, uint8_t sku, std::vector<std::string> strings) {
  numbers.resize(4 + 16 + 1);
  numbers.push_back(sku);
  numbers.push_back(0);
  return {1, numbers, std::move(strings)};
}
SmbiosStructure board_info(std::vector<std::string> strings) {
  return {2, {1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0}, std::move(strings)};
}

std::vector<std::string> values() {
  std::vector<std::string> v;
  for (int row : kRows) {
    std::string value = test::text_at(kValueCol, row, 49);
    while (!value.empty() && value.back() == ' ') value.pop_back();
    v.push_back(value);
  }
  return v;
}

class SmbiosPageTest : public test::KvqTest {
 protected:
  void SetUp() override {
    KvqTest::SetUp();
    start();
  }
  void show() {
    state.page = PageId::kSmbios;
    con::clear_screen();
    pass();
  }
  // Every memory read of the last pass lies in [from, from + size).
  bool reads_within(uint64_t from, uint64_t size) {
    for (const sim::Access& a : board.log()) {
      if (a.op == sim::Op::kMemRead && (a.addr < from || a.addr + a.width / 8 > from + size)) return false;
    }
    return true;
  }
};

const std::vector<uint8_t> kPlainTable = sim::smbios_table({
    bios(1, 2, 3, {"Vendor", "1.0", "01/02/2024"}),
    system({1, 2, 3, 4}, 5, {"Maker", "Product", "Ver", "Serial", "SKU"}),
    board_info({"BoardMaker", "Board", "B1", "BSN"}),
});

TEST_F(SmbiosPageTest, EntryPointComesFromTheConfigTableElseTheFSegmentAndIsLookedForOnce) {
  struct Case {
    const char* name;
    SmbiosEntry which;
    bool config_table;
    const char* tag;  // row 0, or the error line
  };
  const Case cases[] = {
      {"2.x", SmbiosEntry::k2, true, "SMBIOS TAG Address   : 0x1F520000"},
      {"3.x", SmbiosEntry::k3, true, "SMBIOS TAG Address   : 0x1F520020"},
      {"both: 3.x first", SmbiosEntry::kBoth, true, "SMBIOS TAG Address   : 0x1F520020"},
      {"F segment", SmbiosEntry::k2, false, "SMBIOS TAG Address   : 0x000F0080"},
      {"none", SmbiosEntry::kNone, false, "Error ! No DMI struct found !"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    console().install();
    board.config_tables.clear();
    // Decoys the F-segment search passes over: no "_DMI_"; a zero byte 4;
    // an anchor off the 4-byte grid.
    for (uint32_t a = 0xF0000; a < 0xF00C0; ++a) board.ram_poke(a, 0);
    auto poke_text = [&](uint32_t at, const char* text) {
      for (int i = 0; text[i] != 0; ++i) board.ram_poke(at + i, static_cast<uint8_t>(text[i]));
    };
    poke_text(0xF0000, "_SM_\x55");
    poke_text(0xF0020, "_SM_");
    poke_text(0xF0030, "_DMI_");
    poke_text(0xF0052, "_SM_\x55");
    poke_text(0xF0062, "_DMI_");
    SmbiosLayout layout;
    layout.config_table = c.config_table;
    layout.f_segment_copy = c.config_table ? 0 : 0xF0080;
    sim::install_smbios(board, kPlainTable, c.which, layout);
    start();
    show();
    EXPECT_EQ(row_text(0), c.tag);
    if (c.which == SmbiosEntry::kNone) {
      for (int row = 1; row < 24; ++row) EXPECT_EQ(row_text(row), "") << row;
    } else {
      EXPECT_EQ(row_text(1), "SMBIOS Entry Address : 0x1F51F000");
      EXPECT_EQ(row_text(3), "Type0_Vendor_Name       : Vendor");
    }
    board.clear_log();
    console().clear_ops();
    pass();
    EXPECT_TRUE(reads_within(layout.table, kPlainTable.size()));
    EXPECT_EQ(console().serial_bytes(), 0u);  // the same screen again
  }
}

TEST_F(SmbiosPageTest, SmbiosThreeTableAboveFourGibShowsItsAddressWithoutStringsUnlessA2xTableIsThere) {
  SmbiosLayout high;
  high.table = 0x123456000ull;
  sim::install_smbios(board, kPlainTable, SmbiosEntry::k3, high);
  show();
  EXPECT_EQ(row_text(0), "SMBIOS TAG Address   : 0x1F520020");
  EXPECT_EQ(row_text(1), "SMBIOS Entry Address : 0x123456000");
  EXPECT_EQ(values(), std::vector<std::string>(12, ""));
  EXPECT_TRUE(reads_within(0x1F520020, 0x18));

  SmbiosLayout low;
  low.table = 0x00100000;
  sim::install_smbios(board, kPlainTable, SmbiosEntry::k2, low);
  start();
  show();
  EXPECT_EQ(row_text(0), "SMBIOS TAG Address   : 0x1F520000");
  EXPECT_EQ(row_text(1), "SMBIOS Entry Address : 0x00100000");
  EXPECT_EQ(row_text(16), "Type2_Serial_Number     : BSN");
}

// Raw tables for what the structure builder cannot say.
std::vector<uint8_t> raw(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST_F(SmbiosPageTest, LinesTakeTheFirstStructureOfEachTypeThroughItsStringNumbers) {
  const std::string long_name(60, 'V');
  const std::vector<uint8_t> plain_bios = sim::smbios_table({bios(1, 2, 3, {"V", "1.0", "D"})});
  const std::vector<uint8_t> bios_only(plain_bios.begin(), plain_bios.end() - 6);  // without the end structure
  struct Case {
    const char* name;
    std::vector<uint8_t> table;
    int64_t stated_length;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"out of order; numbers in any order, 0 and past the set; no type 2; 60 characters cut at 49",
       sim::smbios_table({
           {3, {1, 1, 0, 0, 0}, {"Chassis"}},
           system({4, 0, 3, 1}, 2, {"Serial", "SKU", "Version", "Maker"}),
           bios(1, 7, 2, {long_name, "06/07/2024"}),
           bios(1, 2, 3, {"Second", "2.0", "Later"}),
       }),
       -1,
       {std::string(49, 'V'), "", "06/07/2024", "Maker", "", "Version", "Serial", "SKU", "", "", "", ""}},
      {"empty string set; an older system structure without the SKU field",
       raw({{0, 0x12, 0, 0, 1, 2, 0, 0xE8, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0},
            {0, 0},
            {1, 0x19, 1, 0, 1, 2, 3, 4},
            std::vector<uint8_t>(17, 0),
            // Where a SKU field would stand: the first string, "\x05".
            {5, 0, 'P', 0, 'V', 0, 'S', 0, 'K', 0, 0},
            sim::smbios_table({board_info({"BM", "BP", "BV", "BS"})})}),
       -1,
       {"", "", "", "?", "P", "V", "S", "", "BM", "BP", "BV", "BS"}},
      {"a structure that runs past the stated length ends the walk",
       sim::smbios_table({bios(1, 2, 3, {"V", "1.0", "D"}), system({1, 2, 3, 4}, 0, {"M", "P", "V", "S"}),
                          board_info({"BM", "BP", "BV", "BS"})}),
       static_cast<int64_t>(bios_only.size()) + 0x1B + 4,  // the system structure's set is cut
       {"V", "1.0", "D", "", "", "", "", "", "", "", "", ""}},
      {"a formatted length below 4 ends the walk",
       raw({bios_only, {5, 2, 0, 0}, sim::smbios_table({board_info({"BM", "BP", "BV", "BS"})})}), -1,
       {"V", "1.0", "D", "", "", "", "", "", "", "", "", ""}},
      {"nothing after the end-of-table structure",
       raw({plain_bios, sim::smbios_table({board_info({"BM", "BP", "BV", "BS"})})}), -1,
       {"V", "1.0", "D", "", "", "", "", "", "", "", "", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    board.config_tables.clear();
    SmbiosLayout layout;
    layout.stated_length = c.stated_length;
    // Whatever follows the table is not part of it.
    for (uint32_t i = 0; i < 256; ++i) board.ram_poke(static_cast<uint32_t>(layout.table + c.table.size() + i), 0x41);
    sim::install_smbios(board, c.table, SmbiosEntry::k2, layout);
    start();
    show();
    EXPECT_EQ(values(), c.expected);
    board.clear_log();
    pass();
    const uint64_t length = c.stated_length >= 0 ? static_cast<uint64_t>(c.stated_length) : c.table.size();
    EXPECT_TRUE(reads_within(layout.table, length));
  }
}

TEST_F(SmbiosPageTest, HighBytesAreWidenedAndControlCharactersShowAsTheConsoleShowsThem) {
  sim::install_smbios(board, sim::smbios_table({bios(1, 2, 3, {"A\x80\x9F\xA0\xE9\xFF", "x\ny", "z\rw"})}),
                      SmbiosEntry::k2);
  show();
  const std::u16string expected[3] = {u"A??\u00A0\u00E9\u00FF", u"x?y", u"z?w"};
  for (int line = 0; line < 3; ++line) {
    for (size_t i = 0; i < expected[line].size(); ++i) {
      EXPECT_EQ(con::screen().at(kValueCol + static_cast<int>(i), 3 + line).ch, expected[line][i]) << line << i;
    }
  }
  EXPECT_EQ(console().mirror_row(3).substr(kValueCol, 6), u"A??\u00A0\u00E9\u00FF");
}

// Random tables, mostly well-formed structures with random corruption: the
// walk reads nothing outside the entry point and the stated table, and
// always ends.
TEST_F(SmbiosPageTest, RandomTablesAreWalkedInsideTheirLength) {
  std::minstd_rand rng(20240607);
  auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  constexpr uint32_t kTable = 0x00200000;
  constexpr uint32_t kSpace = 700;
  constexpr uint32_t kEntry = 0x1F520000;
  SmbiosLayout layout;
  layout.table = kTable;
  layout.stated_length = 0;
  sim::install_smbios(board, {}, SmbiosEntry::k2, layout);
  state.page = PageId::kSmbios;
  int rounds_with_strings = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> t;
    while (t.size() < kSpace - 100) {
      static constexpr uint8_t kTypes[] = {0, 1, 2, 3, 127, 0xC8};
      const uint8_t type = kTypes[pick(6)];
      const uint8_t length = static_cast<uint8_t>(pick(8) == 0 ? pick(4) : 4 + pick(0x20));
      t.push_back(type);
      t.push_back(length);
      for (int i = 2; i < length; ++i) t.push_back(static_cast<uint8_t>(pick(7)));
      const uint32_t strings = pick(7);
      for (uint32_t n = 0; n < strings; ++n) {
        for (uint32_t i = pick(60); i > 0; --i) t.push_back(static_cast<uint8_t>(1 + pick(255)));
        if (pick(20) != 0) t.push_back(0);
      }
      if (strings == 0) t.push_back(0);
      t.push_back(0);
    }
    t.resize(kSpace, 0);
    for (uint32_t i = 0; i < kSpace; ++i) board.ram_poke(kTable + i, t[i]);
    const uint32_t length = pick(kSpace - 100);
    board.ram_poke(kEntry + 0x16, static_cast<uint8_t>(length));
    board.ram_poke(kEntry + 0x17, static_cast<uint8_t>(length >> 8));
    state.smbios_searched = false;
    board.clear_log();
    pass();
    for (const sim::Access& a : board.log()) {
      ASSERT_EQ(a.op, sim::Op::kMemRead);
      const bool in_entry = a.addr >= kEntry && a.addr + a.width / 8 <= kEntry + 0x1F;
      const bool in_table = a.addr >= kTable && a.addr < kTable + length;
      ASSERT_TRUE(in_entry || in_table) << "round " << round << " read " << a;
    }
    // The walk reads each byte once, each line at most its string set.
    ASSERT_LE(board.log().size(), 13u * length + 16) << round;
    for (const std::string& v : values()) {
      if (!v.empty()) {
        ++rounds_with_strings;
        break;
      }
    }
  }
  EXPECT_GT(rounds_with_strings, 500);   // the tables were not all rejected at once
}

}  // namespace
}  // namespace kvq
