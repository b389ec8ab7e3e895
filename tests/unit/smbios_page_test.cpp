// The SMBIOS page: where the entry point comes from, which structures and
// strings its twelve lines show, and that the walk never leaves the table.
#include <gtest/gtest.h>

#include <random>

#include "platform/sim/cpu_models.h"
#include "platform/sim/smbios_tables.h"
#include "support.h"

namespace kvq {
namespace {

using sim::SmbiosEntry;
using sim::SmbiosLayout;
using sim::SmbiosStructure;
using Strings = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;
using test::row_text;

constexpr int kRows[12] = {3, 4, 5, 7, 8, 9, 10, 11, 13, 14, 15, 16};

// Formatted areas after the header, with the string numbers kvq reads.
SmbiosStructure bios(uint8_t vendor, uint8_t version, uint8_t date, Strings s) {
  return {0, {vendor, version, 0, 0xE8, date, 0, 0, 0, 0, 0, 0, 0, 0, 0}, std::move(s)};
}
// SMBIOS 2.4 and later: 1Bh bytes, the SKU number at 19h.
SmbiosStructure system(Bytes numbers, uint8_t sku, Strings s) {
  numbers.resize(4 + 16 + 1);
  numbers.insert(numbers.end(), {sku, 0});
  return {1, numbers, std::move(s)};
}
const Bytes kBoard = sim::smbios_table({{2, {1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0}, {"BM", "BP", "BV", "BS"}}});
const Bytes kPlain = sim::smbios_table(
    {bios(1, 2, 3, {"Vendor", "1.0", "D"}), system({1, 2, 3, 4}, 5, {"M", "P", "V", "S", "K"})});
const Bytes kBios = sim::smbios_table({bios(1, 2, 3, {"Vendor", "1.0", "D"})});
const Bytes kBiosOnly(kBios.begin(), kBios.end() - 6);  // without the end-of-table structure

Strings values() {
  Strings v;
  for (int row : kRows) {
    std::string value = test::text_at(26, row, 49);
    v.push_back(value.substr(0, value.find_last_not_of(' ') + 1));
  }
  return v;
}

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

class SmbiosPageTest : public test::KvqTest {
 protected:
  void show() {
    start();
    state.page = PageId::kSmbios;
    con::clear_screen();
    pass();
  }
  bool reads_within(uint64_t from, uint64_t size) {
    for (const sim::Access& a : board.log()) {
      if (a.op == sim::Op::kMemRead && (a.addr < from || a.addr + a.width / 8 > from + size)) return false;
    }
    return true;
  }
  void poke(uint32_t at, const char* text) {
    for (int i = 0; text[i] != 0; ++i) board.ram_poke(at + i, static_cast<uint8_t>(text[i]));
  }
};

TEST_F(SmbiosPageTest, EntryPointComesFromTheConfigTableElseTheFSegmentAndIsLookedForOnce) {
  struct Case {
    const char* name;
    SmbiosEntry which;
    bool config_table;
    uint64_t table;
    bool low_2x_too;  // a 2.x entry point of its own, table at 0x100000
    const char* tag;  // row 0
    const char* entry;
    const char* vendor;
  };
  const Case cases[] = {
      {"2.x", SmbiosEntry::k2, true, 0x1F51F000, false, "0x1F520000", "0x1F51F000", "Vendor"},
      {"3.x", SmbiosEntry::k3, true, 0x1F51F000, false, "0x1F520020", "0x1F51F000", "Vendor"},
      {"both: 3.x first", SmbiosEntry::kBoth, true, 0x1F51F000, false, "0x1F520020", "0x1F51F000", "Vendor"},
      {"3.x above 4 GiB", SmbiosEntry::k3, true, 0x123456000, false, "0x1F520020", "0x123456000", "Vendor"},
      {"3.x beyond a 40-bit reach", SmbiosEntry::k3, true, 0x20000000000, false, "0x1F520020", "0x20000000000", ""},
      {"3.x beyond reach, 2.x", SmbiosEntry::k3, true, 0x20000000000, true, "0x1F520000", "0x00100000", "Vendor"},
      {"F segment", SmbiosEntry::k2, false, 0x1F51F000, false, "0x000F0080", "0x1F51F000", "Vendor"},
      {"none", SmbiosEntry::kNone, false, 0x1F51F000, false, nullptr, nullptr, nullptr},
  };
  sim::set_cpus(board, sim::qemu64_cpu, 1);  // 40 bits of physical address
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    console().install();
    board.config_tables.clear();
    // Decoys the F-segment search passes over: no "_DMI_"; a zero byte 4;
    // an anchor off the 4-byte grid.
    for (uint32_t a = 0xF0000; a < 0xF00C0; ++a) board.ram_poke(a, 0);
    poke(0xF0000, "_SM_\x55");
    poke(0xF0020, "_SM_");
    poke(0xF0030, "_DMI_");
    poke(0xF0052, "_SM_\x55");
    poke(0xF0062, "_DMI_");
    SmbiosLayout layout{.table = c.table, .config_table = c.config_table, .f_segment_copy = c.config_table ? 0 : 0xF0080u};
    sim::install_smbios(board, kPlain, c.which, layout);
    if (c.low_2x_too) sim::install_smbios(board, kPlain, SmbiosEntry::k2, {.table = 0x100000});
    show();
    if (c.tag == nullptr) {
      EXPECT_EQ(row_text(0), "Error ! No DMI struct found !");
      for (int row = 1; row < 24; ++row) EXPECT_EQ(row_text(row), "") << row;
    } else {
      EXPECT_EQ(row_text(0), std::string("SMBIOS TAG Address   : ") + c.tag);
      EXPECT_EQ(row_text(1), std::string("SMBIOS Entry Address : ") + c.entry);
      EXPECT_EQ(values()[0], c.vendor);
    }
    board.clear_log();
    console().clear_ops();
    pass();
    EXPECT_TRUE(reads_within(c.low_2x_too ? 0x100000 : c.table, kPlain.size()));
    EXPECT_EQ(console().serial_bytes(), 0u);  // the same screen again
  }
}

TEST_F(SmbiosPageTest, LinesTakeTheFirstStructureOfEachTypeThroughItsStringNumbers) {
  struct Case {
    const char* name;
    Bytes table;
    int64_t stated_length;
    Strings expected;
  };
  const Case cases[] = {
      {"out of order; numbers in any order, 0 and past the set; no type 2; 60 characters cut at 49",
       sim::smbios_table({{3, {1, 1, 0, 0, 0}, {"Chassis"}},
                          system({4, 0, 3, 1}, 2, {"Serial", "SKU", "Version", "Maker"}),
                          bios(1, 7, 2, {std::string(60, 'V'), "06/07/2024"}), bios(1, 2, 3, {"2nd", "2.0", "x"})}),
       -1,
       {std::string(49, 'V'), "", "06/07/2024", "Maker", "", "Version", "Serial", "SKU", "", "", "", ""}},
      {"empty string set; a system structure too short for the SKU field (19h holds 05h)",
       join({{0, 0x12, 0, 0, 1, 2, 0, 0xE8, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {0, 0},
             {1, 0x19, 1, 0, 1, 2, 3, 4}, Bytes(17, 0), {5, 0, 'P', 0, 'V', 0, 'S', 0, 'K', 0, 0}, kBoard}),
       -1, {"", "", "", "?", "P", "V", "S", "", "BM", "BP", "BV", "BS"}},
      {"a structure that runs past the stated length ends the walk", join({kPlain, kBoard}),
       static_cast<int64_t>(kBiosOnly.size()) + 0x1B + 4, {"Vendor", "1.0", "D", "", "", "", "", "", "", "", "", ""}},
      {"a formatted length below 4 ends the walk", join({kBiosOnly, {5, 2, 0, 0}, kBoard}), -1,
       {"Vendor", "1.0", "D", "", "", "", "", "", "", "", "", ""}},
      {"nothing after the end-of-table structure", join({kPlain, kBoard}), -1,
       {"Vendor", "1.0", "D", "M", "P", "V", "S", "K", "", "", "", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    board.config_tables.clear();
    const SmbiosLayout layout{.stated_length = c.stated_length};
    // Whatever follows the table is not part of it.
    for (uint32_t i = 0; i < 256; ++i) board.ram_poke(static_cast<uint32_t>(layout.table + c.table.size() + i), 0x41);
    sim::install_smbios(board, c.table, SmbiosEntry::k2, layout);
    show();
    EXPECT_EQ(values(), c.expected);
    board.clear_log();
    pass();
    EXPECT_TRUE(reads_within(layout.table, c.stated_length >= 0 ? c.stated_length : c.table.size()));
  }
}

TEST_F(SmbiosPageTest, HighBytesAreWidenedAndControlCharactersShowAsTheConsoleShowsThem) {
  sim::install_smbios(board, sim::smbios_table({bios(1, 2, 3, {"A\x80\x9F\xA0\xE9\xFF", "x\ny", "z\rw"})}),
                      SmbiosEntry::k2);
  show();
  const std::u16string expected[3] = {u"A??\u00A0\u00E9\u00FF", u"x?y", u"z?w"};
  for (int line = 0; line < 3; ++line) {
    for (size_t i = 0; i < expected[line].size(); ++i) {
      EXPECT_EQ(con::screen().at(26 + static_cast<int>(i), 3 + line).ch, expected[line][i]) << line << i;
    }
  }
  EXPECT_EQ(console().mirror_row(3).substr(26, 6), expected[0]);
}

// Random tables, mostly well-formed structures with random corruption: the
// walk reads nothing outside the entry point and the stated table, and
// always ends.
TEST_F(SmbiosPageTest, RandomTablesAreWalkedInsideTheirLength) {
  std::minstd_rand rng(20240607);
  auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  constexpr uint32_t kTable = 0x200000, kSpace = 700, kEntry = 0x1F520000;
  sim::install_smbios(board, {}, SmbiosEntry::k2, {.table = kTable});
  show();
  int rounds_with_strings = 0;
  for (int round = 0; round < 3000; ++round) {
    Bytes t;
    while (t.size() < kSpace - 100) {
      static constexpr uint8_t kTypes[] = {0, 1, 2, 3, 127, 0xC8};
      const uint8_t length = static_cast<uint8_t>(pick(8) == 0 ? pick(4) : 4 + pick(0x20));
      t.insert(t.end(), {kTypes[pick(6)], length});
      for (int i = 2; i < length; ++i) t.push_back(static_cast<uint8_t>(pick(7)));
      const uint32_t strings = pick(7);
      for (uint32_t n = 0; n < strings; ++n) {
        for (uint32_t i = pick(60); i > 0; --i) t.push_back(static_cast<uint8_t>(1 + pick(255)));
        if (pick(20) != 0) t.push_back(0);  // now and then a string runs on
      }
      if (strings == 0) t.push_back(0);
      t.push_back(0);
    }
    for (uint32_t i = 0; i < kSpace; ++i) board.ram_poke(kTable + i, i < t.size() ? t[i] : 0);
    const uint32_t length = pick(kSpace - 100);
    board.ram_poke(kEntry + 0x16, static_cast<uint8_t>(length));
    board.ram_poke(kEntry + 0x17, static_cast<uint8_t>(length >> 8));
    state.smbios_searched = false;
    board.clear_log();
    pass();
    for (const sim::Access& a : board.log()) {
      const bool in_entry = a.addr >= kEntry && a.addr + a.width / 8 <= kEntry + 0x1F;
      ASSERT_TRUE(in_entry || (a.addr >= kTable && a.addr < kTable + length)) << "round " << round << " " << a;
    }
    // The walk reads each byte once, each line at most its string set.
    ASSERT_LE(board.log().size(), 13u * length + 16) << round;
    if (values() != Strings(12, "")) ++rounds_with_strings;
  }
  EXPECT_GT(rounds_with_strings, 500);  // the tables were not all rejected at once
}

}  // namespace
}  // namespace kvq
