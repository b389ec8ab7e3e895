// Configuration mechanism #1 as the access log sees it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "hw/pci.h"
#include "platform/sim/acpi_tables.h"
#include "platform/sim/q35.h"
#include "platform/sim/board.h"
#include "support.h"

namespace kvq {
namespace {

using sim::in32;
using sim::out32;

using PciAccessTest = test::BoardTest;

TEST_F(PciAccessTest, ConfigAddressIsUnmaskedThirtyTwoBitArithmetic) {
  EXPECT_EQ(pci::config_address(0, 31, 0) + 0x05, 0x8000F805u);
  EXPECT_EQ(pci::config_address(255, 31, 7), 0x80FFFF00u);
  // A device above 31 spills into the bus field, a function above 7 into
  // the device field; only 32 bits remain.
  EXPECT_EQ(pci::config_address(0, 32, 0), 0x80010000u);
  EXPECT_EQ(pci::config_address(0, 0, 8), 0x80000800u);
  EXPECT_EQ(pci::config_address(0x8000, 0, 0), 0x80000000u);
}

// pciutils' rule: a device is its function 0; functions 1 to 7 only behind
// the multi-function bit. Retry Status is asked again and never listed.
TEST_F(PciAccessTest, ScanListsWhatPciutilsWould) {
  board.add_function(255, 31, 0, 0x8086, 0x0001);
  board.add_function(0, 3, 7, 0x10EC, 0x8139);  // no function 0: not a device
  board.add_function(0, 0, 0, 0x8086, 0x29C0);
  board.add_function(1, 2, 0, 0xFFFF, 0x1234);  // not all ones: listed
  board.add_function(0, 31, 0, 0x8086, 0x2918).set8(0x0E, 0x80);
  board.add_function(0, 31, 2, 0x8086, 0x2922);
  for (int fn = 0; fn < 8; ++fn) board.add_function(0, 5, fn, 0x10EC, 0x8139);  // ignores the function number
  board.add_function(2, 0, 0, 0x1B36, 0x000C).retry_reads = 3;
  board.add_function(2, 1, 0, 0x1B36, 0x000D).retry_reads = 1000;  // never ready
  board.cf8 = 0x8000F8ACu;  // the firmware's

  pci::DeviceTable table;
  ASSERT_EQ(pci::scan(table), 7);
  const int32_t expected[7][5] = {{0, 0, 0, 0x29C0, 0x8086},  {0, 5, 0, 0x8139, 0x10EC}, {0, 31, 0, 0x2918, 0x8086},
                                  {0, 31, 2, 0x2922, 0x8086}, {1, 2, 0, 0x1234, 0xFFFF}, {2, 0, 0, 0x000C, 0x1B36},
                                  {255, 31, 0, 0x0001, 0x8086}};
  for (int i = 0; i < 7; ++i) {
    const pci::TableEntry& e = table.entries[i];
    EXPECT_EQ((std::vector<int32_t>{e.bdf.bus, e.bdf.device, e.bdf.function, e.device_id, e.vendor_id}),
              (std::vector<int32_t>(expected[i], expected[i] + 5)))
        << "entry " << i;
  }
  // Each probe a section of its own, CF8 as found before and after; the
  // retries wait 1, 2, 4 ms, and the one never ready about a second.
  const auto& log = board.log();
  EXPECT_EQ(std::vector<sim::Access>(log.begin(), log.begin() + 4),
            (std::vector<sim::Access>{in32(0xCF8, 0x8000F8AC), out32(0xCF8, 0x80000000), in32(0xCFC, 0x29C08086),
                                      out32(0xCF8, 0x8000F8AC)}));
  EXPECT_EQ(board.cf8, 0x8000F8ACu);
  EXPECT_EQ(board.total_stall_us, 7000u + 1023000u);
}

TEST_F(PciAccessTest, ScanStopsStoringAtTableCapacityWithoutOverflow) {
  // 3 buses x 32 devices x 8 functions = 768 functions.
  for (int bus = 0; bus < 3; ++bus) {
    for (int dev = 0; dev < 32; ++dev) {
      for (int fn = 0; fn < 8; ++fn) board.add_function(bus, dev, fn, 0x8086, static_cast<uint16_t>(bus * 256 + dev * 8 + fn));
      board.function(bus, dev, 0)->set8(0x0E, 0x80);
    }
  }
  static pci::DeviceTable table;
  table.count = 0;
  EXPECT_EQ(pci::scan(table), pci::kTableCapacity);
  EXPECT_EQ(table.count, 500);
  // The first 500 in scan order: bus 1, device 30, function 3 is the last.
  const pci::TableEntry& last = table.entries[499];
  EXPECT_EQ(last.bdf, (pci::Bdf{0, 1, 30, 3}));
  // Every function of the three buses was still probed (eight IDs and the
  // header type a device), and function 0 of every other device, after the
  // host bridge's ID (no MCFG: has it PCIEXBAR?): four port accesses a
  // section.
  EXPECT_EQ(board.log().size(), 4u * (1 + 3 * 32 * 9 + 253 * 32));
}

TEST_F(PciAccessTest, WindowReadIsSixtyFourDwordPairs) {
  sim::PciFunction& f = board.add_function(0, 4, 0, 0x8086, 0x10D3);
  f.set32(0xFC, 0xA1B2C3D4);
  RegisterWindow w;
  pci::read_window({0, 0, 4, 0}, w);
  EXPECT_EQ(w.bytes[0], 0x86);
  EXPECT_EQ(w.bytes[3], 0x10);
  EXPECT_EQ(w.bytes[0xFC], 0xD4);
  EXPECT_EQ(w.bytes[0xFF], 0xA1);
  ASSERT_EQ(board.log().size(), 256u);
  EXPECT_EQ(board.log()[253], out32(0xCF8, 0x800020FCu));
  EXPECT_EQ(board.log()[254], in32(0xCFC, 0xA1B2C3D4u));

  pci::read_window({0, 0, 5, 0}, w);  // absent: all ones
  for (uint8_t b : w.bytes) ASSERT_EQ(b, 0xFF);
}

// A write is one access of its width at its byte lane, CF8 put back.
TEST_F(PciAccessTest, WritesAreOneAccessOfTheirWidthAtTheirLane) {
  sim::PciFunction& f = board.add_function(0, 2, 0, 0x8086, 0x1234);
  for (int o = 0; o < 0x40; o += 4) f.set_writable(o, 4, 0xFFFFFFFF);
  const uint32_t a = pci::config_address(0, 2, 0);
  const struct {
    uint32_t offset;
    int width;
    uint32_t value;
    sim::Access data;
  } kCases[] = {
      {0x05, 1, 0x5A, sim::out8(0xCFD, 0x5A)},
      {0x0E, 2, 0x1234, sim::out16(0xCFE, 0x1234)},
      {0x0C, 2, 0x5678, sim::out16(0xCFC, 0x5678)},
      {0x10, 4, 0x12345678, out32(0xCFC, 0x12345678)},
  };
  board.cf8 = 0x80000010u;
  for (const auto& c : kCases) {
    board.clear_log();
    pci::config_write({0, 0, 2, 0}, c.offset, c.width, c.value);
    EXPECT_EQ(board.log(), (std::vector<sim::Access>{in32(0xCF8, 0x80000010u), out32(0xCF8, a + (c.offset & 0xFC)),
                                                     c.data, out32(0xCF8, 0x80000010u)}))
        << c.offset;
    EXPECT_EQ(f.read(static_cast<int>(c.offset), c.width), c.value) << c.offset;
  }
}

// Write-1-to-clear status bits keep what they latched when their
// neighbours are written, byte or word.
TEST_F(PciAccessTest, StatusBitsSurviveWritesToTheirNeighbours) {
  const struct {
    const char* status;
    int at;  // the status register, 16 bits
    uint16_t bits;
    uint32_t write;  // the neighbour written
    int width;
  } kCases[] = {
      {"Status", 0x06, 0xF900, 0x04, 1},           {"Status", 0x06, 0xF900, 0x04, 2},
      {"Status", 0x06, 0xF900, 0x05, 1},           {"Device Status", 0x4A, 0x000F, 0x48, 1},
      {"Device Status", 0x4A, 0x000F, 0x48, 2},    {"Link Status", 0x52, 0xC000, 0x50, 1},
      {"Link Status", 0x52, 0xC000, 0x50, 2},      {"Secondary Status", 0x1E, 0xF900, 0x1C, 1},
      {"Secondary Status", 0x1E, 0xF900, 0x1D, 1}, {"Secondary Status", 0x1E, 0xF900, 0x1C, 2},
  };
  for (const auto& c : kCases) {
    sim::PciFunction& f = board.add_function(0, 3, 0, 0x8086, 0x1234);
    f.set8(0x0E, 0x01);  // a bridge: Secondary Status at 1Eh
    f.add_capability(0x10, 0x40);
    f.set_writable(static_cast<int>(c.write), c.width, 0xFFFF);
    f.set_clears(c.at, 2, c.bits);
    f.set16(c.at, c.bits);
    pci::config_write({0, 0, 3, 0}, c.write, c.width, 0x07);
    EXPECT_EQ(f.read(c.at, 2), c.bits) << c.status << " beside a write at " << c.write << " width " << c.width;
    EXPECT_EQ(f.read(static_cast<int>(c.write), c.width), 0x07u) << c.status;
  }
}

// The firmware's timer event takes CF8 whenever it may run: kvq's sections
// hold it off, so each reads and writes the register it addressed.
TEST_F(PciAccessTest, SectionsHoldOffTheFirmwaresTimerEvent) {
  sim::PciFunction& f = board.add_function(0, 4, 0, 0x8086, 0x10D3);
  sim::PciFunction& other = board.add_function(0, 31, 0, 0x8086, 0x2918);
  other.set_writable(0x3C, 1, 0xFF);
  board.timer_cf8 = 0x8000F83Cu;  // 0:31.0, register 3Ch
  const pci::Bdf fn = {0, 0, 4, 0};
  pci::config_write(fn, 0x3C, 1, 0x5A);
  EXPECT_EQ(pci::config_read(fn, 0x00, 4), 0x10D38086u);
  EXPECT_EQ(pci::config_read(fn, 0x3C, 1), 0x5Au);
  EXPECT_EQ(f.cfg[0x3C], 0x5A);
  EXPECT_EQ(other.cfg[0x3C], 0);
  EXPECT_EQ(board.tpl, 4u);  // back at TPL_APPLICATION
}

// The PCIE page's "Memory Address": PCIEXBAR only on a host bridge known to
// have it, decoded; else the MCFG range of the function's segment and bus;
// else none. Register 60h of any other host bridge is never read.
TEST_F(PciAccessTest, MemoryAddressFromAKnownPciexbarElseTheMcfg) {
  const struct {
    const char* what;
    uint32_t host_id;
    uint32_t low, high;
    bool mcfg;
    pci::Bdf f;
    uint64_t address;  // 0: none
  } kCases[] = {
      {"Q35", 0x29C08086, 0xE0000001, 0, true, {0, 1, 0, 0}, 0xE0100000u},
      {"Q35, device 1Ch", 0x29C08086, 0xE0000001, 0, true, {0, 0, 0x1C, 0}, 0xE00E0000u},
      {"PCIEXBAR off: the MCFG", 0x29C08086, 0xE0000000, 0, true, {0, 1, 0, 0}, 0xB0100000u},
      {"64 MiB above 4 GiB", 0x29C08086, 0xFC000005, 4, true, {0, 1, 0, 0}, 0x4FC100000ull},
      {"past its 64 buses: the MCFG", 0x29C08086, 0xFC000005, 4, true, {0, 0x40, 0, 0}, 0xB4000000u},
      {"a length it does not know: the MCFG", 0x29C08086, 0xE0000007, 0, true, {0, 1, 0, 0}, 0xB0100000u},
      {"AMD's index register at 60h", 0x14801022, 0x13B10001, 0, true, {0, 1, 0, 0}, 0xB0100000u},
      {"i440FX row boundaries, no MCFG", 0x12378086, 0x10080401, 0, false, {0, 1, 0, 0}, 0},
      {"PCIEXBAR off, no MCFG", 0x29C08086, 0xE0000000, 0, false, {0, 1, 0, 0}, 0},
  };
  for (const auto& c : kCases) {
    sim::Board b;
    sim::set_board(&b);
    sim::PciFunction& host = b.add_function(0, 0, 0, 0, 0);
    host.set32(0x00, c.host_id);
    host.set32(0x60, c.low);
    host.set32(0x64, c.high);
    if (c.mcfg) sim::install_acpi(b, 0x1F700000u, {{0xB0000000u, 0, 0, 255}});
    pci::forget_board();
    const pci::MappedAddress m = pci::memory_address(c.f);
    EXPECT_EQ(m.present ? m.address : 0, c.address) << c.what;
    if (c.host_id == 0x29C08086) continue;
    for (const sim::Access& a : b.log()) {
      EXPECT_FALSE(a.op == sim::Op::kPortOut && a.addr == 0xCF8 && (a.value == 0x80000060 || a.value == 0x80000064))
          << c.what;
    }
  }
  sim::set_board(&board);
}

// The choke point picks the method by offset, width and what the board has;
// where none reaches, a read is all ones and nothing is written.
TEST_F(PciAccessTest, ConfigAccessPicksTheMethodByOffsetWidthAndBoard) {
  enum class Board { kQ35, kNoMemoryMapped, kMcfgOnRam, kTwoSegments };
  const struct {
    Board board;
    pci::Bdf f;
    uint32_t offset;
    int width;
    int method;  // -1: none
  } kCases[] = {
      {Board::kQ35, {0, 0, 4, 0}, 0x3C, 1, 0},
      {Board::kQ35, {0, 0, 4, 0}, 0xFC, 4, 0},
      {Board::kQ35, {0, 0, 4, 0}, 0x100, 4, 1},
      {Board::kQ35, {0, 0, 4, 0}, 0xFFE, 2, 1},
      {Board::kQ35, {0, 0, 4, 0}, 0x3D, 2, -1},   // not aligned to its width
      {Board::kQ35, {0, 0, 4, 0}, 0x1000, 1, -1}, // past the function's 4 KiB
      {Board::kQ35, {1, 0, 4, 0}, 0x3C, 1, -1},   // a segment no method reaches
      {Board::kNoMemoryMapped, {0, 0, 4, 0}, 0x3C, 1, 0},
      {Board::kNoMemoryMapped, {0, 0, 4, 0}, 0x104, 2, -1},
      {Board::kMcfgOnRam, {0, 0, 4, 0}, 0x104, 2, -1},  // the function's ID is not there
      {Board::kQ35, {0, 0, 9, 0}, 0x104, 2, -1},         // all ones both ways is no ID
      {Board::kTwoSegments, {1, 1, 0, 0}, 0x3C, 1, 1},   // outside segment 0, all through memory
      {Board::kTwoSegments, {1, 1, 0, 0}, 0x104, 4, 1},
      {Board::kTwoSegments, {1, 4, 0, 0}, 0x3C, 1, -1},  // a bus beyond the segment's range
  };
  for (const auto& c : kCases) {
    sim::Board b;
    sim::set_board(&b);
    sim::build_q35(b);
    for (int o = 0x100; o < 0x1000; o += 4) b.function(0, 4, 0)->set_writable(o, 4, 0xFFFFFFFF);
    if (c.board != Board::kQ35) b.config_tables.clear();
    if (c.board == Board::kNoMemoryMapped) b.function(0, 0, 0)->set32(0x60, 0);
    if (c.board == Board::kMcfgOnRam) sim::install_acpi(b, 0x1F700000u, {{0x10000000u, 0, 0, 255}});
    if (c.board == Board::kTwoSegments) {
      sim::PciFunction& f = sim::add_second_segment(b, 0xE0000000u);
      f.set_writable(0x3C, 1, 0xFF);
      f.set_writable(0x104, 4, 0xFFFFFFFF);
    }
    pci::forget_board();
    const std::string what = "case at offset " + std::to_string(c.offset) + " width " + std::to_string(c.width);
    const pci::AccessMethod* m = pci::method_for(c.f, c.offset, c.width);
    ASSERT_EQ(m == nullptr ? -1 : static_cast<int>(m->method), c.method) << what;
    b.clear_log();
    pci::config_write(c.f, c.offset, c.width, 0x5A5A5A5A);
    const uint32_t read = pci::config_read(c.f, c.offset, c.width);
    const bool wrote = std::any_of(b.log().begin(), b.log().end(), [](const sim::Access& a) {
      return a.op == sim::Op::kMemWrite || (a.op == sim::Op::kPortOut && a.addr == 0xCFC);
    });
    EXPECT_EQ(wrote, c.method >= 0) << what;
    if (c.method < 0) {
      EXPECT_TRUE(b.log().empty()) << what;
      EXPECT_EQ(read, (1ull << (8 * c.width)) - 1) << what;
    }
  }
  sim::set_board(&board);
}

}  // namespace
}  // namespace kvq
