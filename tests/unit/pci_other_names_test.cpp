// Names of every other vendor: the built-in packed list, the pci.ids file
// parser, the order between them and the four vendors' tables, and what the
// PCIE page and the PCI list show.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "data/pci_ids_file.h"
#include "data/pci_names.h"
#include "data/pci_other_names.h"
#include "platform/sim/q35.h"
#include "support.h"

namespace kvq {
namespace {

using test::row_text;
using test::text_at;

std::string other(uint32_t id) {
  char out[pci_names::kOtherNameSize];
  return pci_names::other_name(id, out) ? std::string(out) : std::string("(none)");
}

// ---------------------------------------------------------------------------
// The file parser: the text as kvq would find it, and what it then names.

struct Query {
  int vendor;
  int device;  // -1: the vendor's own name
  const char* name;  // nullptr: not named
};

struct ParseCase {
  const char* what;
  std::string text;
  uint32_t vendors;
  uint32_t devices;
  std::vector<Query> queries;
};

const std::string kLong(1100, 'x');

template <size_t N>
std::string bytes(const char (&s)[N]) {
  return std::string(s, N - 1);
}

const ParseCase kParseCases[] = {
    {"normal",
     "# comment\n1b21  ASMedia Technology Inc.\n\t0612  ASM1062 Serial ATA Controller\n"
     "\t\t1043 8436  Subsystem\n10ee\tXilinx \n\t7011 7-Series FPGA\nC 01  Mass storage\n\t06  SATA\n",
     2, 2,
     {{0x1b21, -1, "ASMedia Technology Inc."}, {0x1b21, 0x0612, "ASM1062 Serial ATA Controller"},
      {0x10ee, -1, "Xilinx"}, {0x10ee, 0x7011, "7-Series FPGA"}, {0x1043, 0x8436, nullptr}, {0x1b21, 0x0006, nullptr}}},
    {"CRLF line ends", "1b21  ASMedia\r\n\t0612  ASM1062 \r\n", 1, 1,
     {{0x1b21, -1, "ASMedia"}, {0x1b21, 0x0612, "ASM1062"}}},
    {"cut in a name", "1b21  ASMedia\n\t0612  ASM10", 1, 1, {{0x1b21, 0x0612, "ASM10"}}},
    {"cut in an ID", "1b21  ASMedia\n\t06", 1, 0, {{0x1b21, 0x0006, nullptr}}},
    {"binary junk around good lines",
     bytes("\x7f\x00\xff\x1b" "1b21\x01junk\n1b21  ASMedia\n\t0612  A\x01" "B\n\t0613  Good\n\xfe\xfe\n\t0614  Lost\n"),
     1, 1, {{0x1b21, 0x0613, "Good"}, {0x1b21, 0x0612, nullptr}, {0x1b21, 0x0614, nullptr}}},
    {"lines longer than the limit",
     "1b21  ASMedia\n\t0612  " + kLong + "\n\t0613  Short\n10ee  " + kLong + "\n\t7011  Orphan\n", 1, 1,
     {{0x1b21, 0x0613, "Short"}, {0x1b21, 0x0612, nullptr}, {0x10ee, -1, nullptr}, {0x1b21, 0x7011, nullptr}}},
    {"only vendors", "1b21  ASMedia\n10ee  Xilinx", 2, 0, {{0x10ee, -1, "Xilinx"}, {0x10ee, 0x0000, nullptr}}},
    {"empty file", "", 0, 0, {{0x1b21, -1, nullptr}}},
    {"no vendor yet, a bad vendor line, repeats and disorder",
     "\t0612  Orphan\n10ee  Xilinx\n1g21  Bad ID\n\t0001  Orphan too\n10ee  Second Xilinx\n1000  LSI\n", 3, 0,
     {{0x10ee, -1, "Xilinx"}, {0x1000, -1, "LSI"}, {0x1b21, 0x0612, nullptr}, {0x10ee, 0x0001, nullptr}}},
    {"characters outside ASCII", "1b21  M\xc3\xbcller \xe2\x80\x93 X\tY\t\n\t0001  \xfc\n", 1, 1,
     {{0x1b21, -1, "M?ller ? X Y"}, {0x1b21, 0x0001, "?"}}},
};

// Indexes `text` as kvq does, in a buffer with the spare byte the parser
// may use, deliberately not a NUL.
struct Parsed {
  explicit Parsed(const std::string& s) : text(s.begin(), s.end()), entries(pci_ids::max_entries(s.size())) {
    text.push_back('#');
    index = pci_ids::build(text.data(), s.size(), entries.data());
  }
  std::vector<char> text;
  std::vector<pci_ids::Entry> entries;
  pci_ids::Index index;
};

TEST(PciIdsFile, TakesLineByLineOnlyWhatParses) {
  for (const ParseCase& c : kParseCases) {
    SCOPED_TRACE(c.what);
    const Parsed p(c.text);
    EXPECT_EQ(p.index.vendor_count, c.vendors);
    EXPECT_EQ(p.index.device_count, c.devices);
    for (const Query& q : c.queries) {
      const char* name = q.device < 0 ? pci_ids::vendor_name(p.index, static_cast<uint16_t>(q.vendor))
                                      : pci_ids::device_name(p.index, static_cast<uint16_t>(q.vendor),
                                                             static_cast<uint16_t>(q.device));
      EXPECT_STREQ(name, q.name) << std::hex << q.vendor << ":" << q.device;
    }
  }
}

// Random damage to a small file: whatever the parser takes must be sound
// names, sorted, and inside the text.
TEST(PciIdsFile, SurvivesRandomMutations) {
  const std::string base = kParseCases[0].text + "1000  LSI\r\n\t0001  53c810\n\t0002  53c820\n";
  std::mt19937 rng(20230410);
  for (int round = 0; round < 3000; ++round) {
    std::string s = base;
    const int edits = 1 + static_cast<int>(rng() % 8);
    for (int e = 0; e < edits && !s.empty(); ++e) {
      const size_t at = rng() % s.size();
      const char ch = "\n\t\r #0aF\x00\xff"[rng() % 11];
      switch (rng() % 5) {
        case 0: s[at] = static_cast<char>(rng()); break;
        case 1: s.insert(at, 1, ch); break;
        case 2: s.erase(at, 1 + rng() % 16); break;
        case 3: s.resize(at); break;
        default: s.insert(at, s.substr(rng() % s.size(), rng() % 40)); break;
      }
    }
    const Parsed p(s);
    const pci_ids::Index& index = p.index;
    ASSERT_LE(index.vendor_count + index.device_count, p.entries.size());
    const std::vector<pci_ids::Entry> vendors(index.vendors, index.vendors + index.vendor_count);
    const std::vector<pci_ids::Entry> devices(index.devices, index.devices + index.device_count);
    for (const auto* list : {&vendors, &devices}) {
      for (size_t i = 0; i < list->size(); ++i) {
        const pci_ids::Entry& e = (*list)[i];
        if (i > 0) {
          ASSERT_LE((*list)[i - 1].key, e.key) << s;
        }
        ASSERT_LT(e.name, s.size()) << s;
        const char* name = p.text.data() + e.name;
        const size_t len = strnlen(name, p.text.size() - e.name);
        ASSERT_LT(e.name + len, p.text.size()) << s;  // terminated inside the buffer
        ASSERT_GT(len, 0u) << s;
        ASSERT_NE(name[len - 1], ' ') << s;
        for (size_t k = 0; k < len; ++k) ASSERT_TRUE(name[k] >= 0x20 && name[k] <= 0x7E) << s;
      }
    }
    for (const pci_ids::Entry& d : devices) {
      ASSERT_NE(pci_ids::vendor_name(index, static_cast<uint16_t>(d.key >> 16)), nullptr) << s;
    }
  }
}

// ---------------------------------------------------------------------------
// The built-in list, and the order: four vendors' tables, the file, the
// built-in list.

TEST(PciOtherNames, BuiltInListNamesEveryOtherVendor) {
  const struct {
    uint32_t id;
    const char* name;
  } cases[] = {
      {0x06121B21, "ASMedia Technology Inc. ASM1062 Serial ATA Controller"},
      {0xFFF01B21, "ASMedia Technology Inc. Device FFF0"},
      {0x11111234, "QEMU Standard VGA"},  // not in pci.ids: QEMU's own ID
      {0xABCD0001, "SafeNet (wrong ID) Device ABCD"},  // first vendor
      {0x0710FFFE, "VMWare Inc (temporary ID) Virtual SVGA"},  // last device
      {0x29C08086, "(none)"},  // the four vendors' tables hold it
      {0xFFF08086, "(none)"},  // their unlisted devices stay unnamed
      {0xFFF010DE, "(none)"},
      {0x12340000, "(none)"},  // no such vendor
      {0xFFFFFFFF, "(none)"},  // an absent function, although pci.ids lists FFFF
      {0x0000FFFF, "Illegal Vendor ID Device 0000"},
  };
  for (const auto& c : cases) EXPECT_EQ(other(c.id), c.name) << std::hex << c.id;
}

class PciNamesFileTest : public test::KvqTest {
 protected:
  void put_file(const std::string& text) { board.files_beside_image[u"pci.ids"] = text; }
};

TEST_F(PciNamesFileTest, FourVendorsKeepTheirNamesWhateverTheFileSays) {
  // A file that renames every record of the four vendors' tables.
  std::string file;
  for (const pci_names::NameGroup& group : pci_names::kGroups) {
    for (uint32_t i = 0; i < group.count; ++i) {
      char line[40];
      std::snprintf(line, sizeof line, "%04x  Other\n\t%04x  Renamed\n", group.records[i].key & 0xFFFF,
                    group.records[i].key >> 16);
      file += line;
    }
  }
  put_file(file);
  start();
  ASSERT_NE(pci_ids::loaded(), nullptr);
  for (const pci_names::NameGroup& group : pci_names::kGroups) {
    for (uint32_t i = 0; i < group.count; ++i) EXPECT_EQ(other(group.records[i].key), "(none)");
  }
  // Their unlisted devices take the file's vendor name.
  EXPECT_EQ(other(0xFFF08086), "Other Device FFF0");
}

TEST_F(PciNamesFileTest, FileComesBeforeTheBuiltInListAndGoesBackAtExit) {
  put_file("1234  Bochs\n\t1111  Renamed VGA\n1b21  ASMedia (file)\n\t0613  New SATA\n");
  start();
  EXPECT_EQ(other(0x11111234), "Bochs Renamed VGA");
  EXPECT_EQ(other(0x06131B21), "ASMedia (file) New SATA");
  // What the file does not name, the built-in list does, whole.
  EXPECT_EQ(other(0x06121B21), "ASMedia Technology Inc. ASM1062 Serial ATA Controller");
  EXPECT_EQ(other(0xFFF01B21), "ASMedia (file) Device FFF0");
  EXPECT_EQ(other(0x0710FFFE), "VMWare Inc (temporary ID) Virtual SVGA");
  EXPECT_GT(board.pool_in_use, 0);
  shutdown();
  EXPECT_EQ(board.pool_in_use, 0);
  EXPECT_EQ(other(0x11111234), "QEMU Standard VGA");

  // Unreadable, or nothing in it parses: the built-in names, no memory kept.
  board.file_reads_fail = true;
  start();
  EXPECT_EQ(other(0x11111234), "QEMU Standard VGA");
  board.file_reads_fail = false;
  put_file(bytes("\x89PNG\r\n\x1a\n\0\0\0\rIHDR"));
  start();
  EXPECT_EQ(pci_ids::loaded(), nullptr);
  EXPECT_EQ(board.pool_in_use, 0);
}

// ---------------------------------------------------------------------------
// On screen.

TEST_F(PciNamesFileTest, PagesShowOtherVendorsCutToTheirFields) {
  sim::build_q35(board);
  // Mellanox's name is 130 characters with the vendor's.
  board.add_function(2, 0, 0, 0x15B3, 0x6340);
  put_file("1234  Bochs\n\t1111  Renamed VGA\n");
  start();
  pass_scan(kScanF5);
  pass();
  EXPECT_EQ(row_text(2), "000 001 000 11111234 Bochs Renamed VGA");
  const std::string mellanox =
      "Mellanox Technologies MT25408A0-FCC-SI ConnectX, Dual Port 10Gb/s InfiniBand / 10GigE Adapter IC with PCIe "
      "2.0 x8 2.5GT/s Interface";
  EXPECT_EQ(text_at(0, 8, 100), "002 000 000 634015B3 " + mellanox.substr(0, 79));

  pass_scan(kScanDown);
  for (int i = 0; i < 6; ++i) pass_scan(kScanDown);
  pass_key(Key{0, kCharEnter});
  pass();
  ASSERT_EQ(row_text(0), "Bus:02 Dev:00 Fun:00");
  // 98 characters: 80 on row 18, 18 wrapped onto row 19, before the label.
  EXPECT_EQ(text_at(0, 18, 80), mellanox.substr(0, 80));
  EXPECT_EQ(text_at(0, 19, 19), mellanox.substr(80, 18) + " ");
  EXPECT_EQ(text_at(25, 19, 7), "0x00 ->");
}

}  // namespace
}  // namespace kvq
