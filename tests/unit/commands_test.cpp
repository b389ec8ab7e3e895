// The command runner on the simulated Q35 board: the PCI dump byte for byte,
// the access log of each write, and the search for the memory-mapped
// configuration space through the ACPI tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/commands.h"
#include "hw/pci_extended.h"
#include "platform/sim/acpi_tables.h"
#include "platform/sim/paging_sim.h"
#include "platform/sim/q35.h"
#include "platform/text_out.h"
#include "support.h"

namespace kvq {
namespace {

using sim::Access;
using sim::in32;
using sim::in16;
using sim::in8;
using sim::out16;
using sim::out32;
using sim::out8;
using sim::rd;
using sim::wr;

std::u16string& g_out = test::g_cli_out;
std::u16string& g_err = test::g_cli_err;
using CommandsTest = test::CommandTest;

// KVQ_UPDATE_GOLDEN=1 rewrites the file from the board model.
TEST_F(CommandsTest, DumpOfTheQ35BoardMatchesTheGoldenFile) {
  const std::string path = std::string(KVQ_GOLDEN_DIR) + "/q35_dump.txt";
  ASSERT_EQ(run("dump pci"), cli::Status::kOk);
  if (std::getenv("KVQ_UPDATE_GOLDEN") != nullptr) std::ofstream(path, std::ios::binary) << out();
  std::ifstream file(path, std::ios::binary);
  std::stringstream golden;
  golden << file.rdbuf();
  EXPECT_EQ(out(), golden.str());
  EXPECT_EQ(err(), "");
}

TEST_F(CommandsTest, WritesTakeThePagesPathsThenReadBack) {
  struct Case {
    const char* line;
    std::vector<Access> log;
    const char* printed;
  };
  const uint32_t nic = 0x80002000u;  // 00:04.0
  board.function(0, 4, 0)->set_writable(0x3C, 4, 0xFFFF00FF);
  board.function(0, 4, 0)->set_writable(0x104, 4, 0xFFFFFFFF);
  const Case kCases[] = {
      {"write pci 00:04.0 3c 5a",
       {in32(0xCF8, 0), out32(0xCF8, nic + 0x3C), out8(0xCFC, 0x5A), out32(0xCF8, 0), in32(0xCF8, 0),
        out32(0xCF8, nic + 0x3C), in32(0xCFC, 0x0000015A), out32(0xCF8, 0)},
       "5A\r\n"},
      {"write pci 00:04.0 3e 1234 w",
       {in32(0xCF8, 0), out32(0xCF8, nic + 0x3C), out16(0xCFE, 0x1234), out32(0xCF8, 0), in32(0xCF8, 0),
        out32(0xCF8, nic + 0x3C), in32(0xCFC, 0x1234015A), out32(0xCF8, 0)},
       "1234\r\n"},
      {"write pci 00:04.0 3c 11223344 d",
       {in32(0xCF8, 0), out32(0xCF8, nic + 0x3C), out32(0xCFC, 0x11223344), out32(0xCF8, 0), in32(0xCF8, 0),
        out32(0xCF8, nic + 0x3C), in32(0xCFC, 0x11220144), out32(0xCF8, 0)},
       "11220144\r\n"},
      {"write mem 1002 1234 w", {wr(16, 0x1002, 0x1234), rd(16, 0x1002, 0x1234)}, "1234\r\n"},
      {"write mem 2000 a5", {wr(8, 0x2000, 0xA5), rd(8, 0x2000, 0xA5)}, "A5\r\n"},
      {"write mem 3004 aabbccdd d", {wr(32, 0x3004, 0xAABBCCDD), rd(32, 0x3004, 0xAABBCCDD)}, "AABBCCDD\r\n"},
      {"write io 70 8a", {out8(0x70, 0x8A), in8(0x70, 0xFF)}, "FF\r\n"},
      {"write io 70 0a8a w", {out16(0x70, 0x0A8A), in16(0x70, 0x0AFF)}, "0AFF\r\n"},
      // The e1000e's IOADDR/IODATA pair decodes only dwords.
      {"write io 6160 5400 d", {out32(0x6160, 0x5400), in32(0x6160, 0x5400)}, "00005400\r\n"},
      {"read io 6164 d", {in32(0x6164, 0xAA005452)}, "AA005452\r\n"},
  };
  for (const Case& c : kCases) {
    g_out.clear();
    EXPECT_EQ(run(c.line), cli::Status::kOk) << c.line;
    EXPECT_EQ(board.log(), c.log) << c.line;
    EXPECT_EQ(out(), c.printed) << c.line;
  }

  // Above 100h: the function's ID seen through the memory-mapped space,
  // then one store there and one load.
  g_out.clear();
  EXPECT_EQ(run("write pci 00:04.0 104 cafe w"), cli::Status::kOk);
  const std::vector<Access>& log = board.log();
  ASSERT_GE(log.size(), 7u);
  EXPECT_EQ(std::vector<Access>(log.end() - 7, log.end()),
            (std::vector<Access>{rd(32, 0xB0020000, 0x10D38086), in32(0xCF8, 0), out32(0xCF8, nic),
                                 in32(0xCFC, 0x10D38086), out32(0xCF8, 0), wr(16, 0xB0020104, 0xCAFE),
                                 rd(16, 0xB0020104, 0xCAFE)}));
  EXPECT_EQ(out(), "CAFE\r\n");
}

TEST_F(CommandsTest, BadLinesTouchNothingAndSayWhy) {
  for (const char* line : {"write pci 00:04.0 3c 5g", "write io 80 1ff", "write pci 00:20.0 3c 1", "frob"}) {
    g_err.clear();
    EXPECT_EQ(run(line), cli::Status::kBadArgument) << line;
    EXPECT_TRUE(board.log().empty()) << line;
    EXPECT_EQ(out(), "") << line;
    EXPECT_EQ(std::count(g_err.begin(), g_err.end(), u'\n'), 2) << err();
  }
  EXPECT_EQ(err(), "kvq: unknown command \"frob\"\r\nusage: kvq.efi [-h | dump pci|acpi|cpuid|vars|setup | read "
                   "pci|mem|io|msr|var ... [b|w|d] | write pci|mem|io|msr|var ... VALUE [b|w|d] | undo [FILE]]\r\n");
}

// The memory-mapped configuration space as the firmware's tables give it,
// and when they are missing, damaged or out of reach.
TEST_F(CommandsTest, ExtendedSpaceFromTheMcfgOrRegister60) {
  struct Case {
    const char* what;
    void (*setup)(sim::Board& b, const sim::AcpiLayout& q35);
    struct { bool present; uint64_t base; uint8_t first_bus, last_bus; bool from_mcfg; } expected;
  };
  constexpr uint32_t kAt = sim::kQ35AcpiTables;
  constexpr uint32_t kOther = 0x1F700000u;
  const Case kCases[] = {
      {"as OVMF publishes it", [](sim::Board&, const sim::AcpiLayout&) {}, {true, 0xB0000000u, 0, 255, true}},
      {"no ACPI: register 60h", [](sim::Board& b, const sim::AcpiLayout&) { b.config_tables.clear(); }, {true, 0xB0000000u, 0, 255, false}},
      {"no ACPI, PCIEXBAR disabled",
       [](sim::Board& b, const sim::AcpiLayout&) {
         b.config_tables.clear();
         b.function(0, 0, 0)->set32(0x60, 0xB0000000u);
       },
       {}},
      {"MCFG checksum wrong: as if none",
       [](sim::Board& b, const sim::AcpiLayout& q35) { b.ram_poke(q35.mcfg + 44, 0xA0); },
       {true, 0xB0000000u, 0, 255, false}},
      {"MCFG length beyond any MCFG",
       [](sim::Board& b, const sim::AcpiLayout& q35) {
         b.ram_poke32(q35.mcfg + 4, 0xFFFFFFF0u);
         sim::fix_checksum(b, q35.mcfg, 60, q35.mcfg + 9);
       },
       {true, 0xB0000000u, 0, 255, false}},
      {"XSDT damaged: the RSDT", [](sim::Board& b, const sim::AcpiLayout& q35) { b.ram_poke(q35.xsdt + 44, 0x12); }, {true, 0xB0000000u, 0, 255, true}},
      {"ACPI 1.0 root pointer: the RSDT",
       [](sim::Board& b, const sim::AcpiLayout& q35) {
         b.ram_poke32(q35.xsdt, 0);  // an XSDT no ACPI 1.0 reader would look at
         b.ram_poke(q35.rsdp + 15, 0);
         sim::fix_checksum(b, q35.rsdp, 20, q35.rsdp + 8);
       },
       {true, 0xB0000000u, 0, 255, true}},
      {"no ACPI, an unknown host bridge",
       [](sim::Board& b, const sim::AcpiLayout&) { b.config_tables.clear(), b.function(0, 0, 0)->set16(0x02, 0x1237); }, {}},
      {"segment 0 of two, first",
       [](sim::Board& b, const sim::AcpiLayout&) {
         b.config_tables.clear();
         sim::install_acpi(b, kOther, {{0xE0000000u, 1, 0, 255}, {0xC0000000u, 0, 0, 63}});
       },
       {true, 0xC0000000u, 0, 63, true}},
      {"segment 0 above 4 GiB: used",
       [](sim::Board& b, const sim::AcpiLayout&) {
         b.config_tables.clear();
         sim::install_acpi(b, kOther, {{0x100000000ull, 0, 0, 255}});
       },
       {true, 0x100000000ull, 0, 255, true}},
      {"segment 0 beyond the processor's 40 bits: not used",
       [](sim::Board& b, const sim::AcpiLayout&) {
         b.config_tables.clear();
         sim::install_acpi(b, kOther, {{0xFFFFF00000ull, 0, 0, 255}});
       },
       {}},
  };
  for (const Case& c : kCases) {
    board.config_tables.clear();
    const sim::AcpiLayout q35 = sim::install_acpi(board, kAt, {{0xB0000000u, 0, 0, 255}});
    board.function(0, 0, 0)->set32(0x60, 0xB0000001u);
    board.function(0, 0, 0)->set16(0x02, 0x29C0);
    c.setup(board, q35);
    pci::ExtendedSpaces spaces;
    pci::find_extended_spaces(spaces);
    const pci::ExtendedSpace got = spaces.at[0];
    const auto& want = c.expected;
    EXPECT_EQ((std::vector<uint64_t>{spaces.count > 0, got.base, got.first_bus, got.last_bus, spaces.count > 0 && spaces.from_mcfg}),
              (std::vector<uint64_t>{want.present, want.base, want.first_bus, want.last_bus, want.from_mcfg}))
        << c.what;
  }
}

TEST_F(CommandsTest, AnotherSegmentInTheDumpAndOnTheCommandLine) {
  sim::add_second_segment(board, 0xE0000000u);
  run("dump pci");
  EXPECT_EQ(out().substr(0, 28), "0000:00:00.0 0600: 8086:29c0");
  EXPECT_NE(out().find("\n0001:01:00.0 0200: 8086:10d3\r\n00: 86 80 d3 10"), std::string::npos);
  EXPECT_EQ(run("read pci 0002:00:00.0 0"), cli::Status::kUnsupported);
  EXPECT_EQ(err(), "kvq: no memory-mapped configuration space reaches 0002:00:00.0\r\n");
}

TEST_F(CommandsTest, ASpaceThatDoesNotShowTheFunctionIsNotUsed) {
  // An MCFG that points at plain RAM: the e1000e's ID is not there.
  board.config_tables.clear();
  sim::install_acpi(board, 0x1F700000u, {{0x10000000u, 0, 0, 255}});
  EXPECT_EQ(run("write pci 00:04.0 104 1"), cli::Status::kUnsupported);
  EXPECT_EQ(err(), "kvq: no memory-mapped configuration space reaches 00:04.0\r\n");
  for (const Access& a : board.log()) EXPECT_NE(a.op, sim::Op::kMemWrite) << a;
  // The dump gives the e1000e its 256 bytes only.
  g_out.clear();
  run("dump pci");
  EXPECT_EQ(out().find("\n100:"), std::string::npos);
}

// Memory past the processor's reach, off the page tables or the memory
// space map, a store not aligned to its width and a byte in an APIC's page
// are refused with nothing touched; above 4 GiB within them is reached like
// any other.
TEST_F(CommandsTest, MemoryOffThePageTablesIsRefused) {
  sim::PageTables tables(board, sim::PageTables::Shape::k4Level, 0x10000000u);
  tables.map(0, 2u << 20, 4096);
  tables.map(0x100000000ull, 2u << 20, 2u << 20);
  tables.map(0xE000000000ull, 2u << 20, 2u << 20);
  tables.map(0xFEE00000u, 2u << 20, 2u << 20);
  tables.map(0x8000, 4096, 4096, false);
  tables.unmap(0x5000);
  const struct {
    const char* line;
    cli::Status status;
    const char* err;
    std::vector<Access> log;
  } kCases[] = {
      {"read mem 10000000000", cli::Status::kUnsupported,
       "kvq: ADDRESS 10000000000 lies beyond the processor's 40-bit physical address space\r\n", {}},
      {"read mem 5ffe w", cli::Status::kUnsupported,
       "kvq: ADDRESS 5FFE is not mapped by the firmware's page tables: nothing was read\r\n", {}},
      {"write mem 8000 1", cli::Status::kUnsupported, "kvq: ADDRESS 8000 is mapped read-only: nothing was written\r\n", {}},
      {"read mem 100000000", cli::Status::kUnsupported,
       "kvq: ADDRESS 100000000 is not in the firmware's memory space map: nothing was read\r\n", {}},
      {"write mem 1001 1234 w", cli::Status::kUnsupported,
       "kvq: ADDRESS 1001 is not aligned to the width: nothing was written\r\n", {}},
      {"write mem fee00080 10", cli::Status::kUnsupported,
       "kvq: ADDRESS FEE00080 is an APIC register: aligned dwords only: nothing was written\r\n",
       {sim::guard_on(), sim::rdmsr(0x1B, 0xFEE00900), sim::guard_off()}},
      // MMIO: IA32_APIC_BASE says whether the page is the local APIC's.
      {"write mem e000000002 1234 w", cli::Status::kOk, "",
       {sim::guard_on(), sim::rdmsr(0x1B, 0xFEE00900), sim::guard_off(), wr(16, 0xE000000002ull, 0x1234),
        sim::guard_on(), sim::rdmsr(0x1B, 0xFEE00900), sim::guard_off(), rd(16, 0xE000000002ull, 0x1234)}},
  };
  for (const auto& c : kCases) {
    g_err.clear();
    EXPECT_EQ(run(c.line), c.status) << c.line;
    EXPECT_EQ(err(), c.err) << c.line;
    EXPECT_EQ(board.log(), c.log) << c.line;
  }
}

// The ACPI dump (acpixtract reads it in the end-to-end test): a table out of reach is named on
// standard error and fails the command; one whose checksum fails is dumped with a warning.
TEST_F(CommandsTest, AcpiDumpSaysWhatItLeftOut) {
  board.config_tables.clear();
  const sim::AcpiLayout l = sim::install_acpi(board, 0x1F700000u, {{0xB0000000u, 0, 0, 255}});
  board.ram_poke64(l.xsdt + 36, uint64_t{1} << 40);  // the FACP entry, past a 40-bit processor's reach
  EXPECT_EQ(run("dump acpi"), cli::Status::kUnsupported);
  EXPECT_EQ(err(), "kvq: XSDT at 1F7001F0 fails its checksum\r\n"
                   "kvq: the table at 10000000000 not dumped: it lies beyond the processor's physical address space\r\n");
  EXPECT_NE(out().find("\r\n\r\nMCFG @ 0x000000001F7001B0\r\n    0000: 4D 43 46 47 3C 00"), std::string::npos);
}

}  // namespace
}  // namespace kvq
