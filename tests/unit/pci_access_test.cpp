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

// pciutils' rule: 1-7 behind 0's multi-function bit; Retry Status asked again.
TEST_F(PciAccessTest, ScanProbesEveryFunctionInOrderAndListsWhatAnswers) {
  board.add_function(255, 31, 0, 0x8086, 0x0001);
  board.add_function(0, 3, 7, 0x10EC, 0x8139);  // function 7 without function 0
  board.add_function(0, 0, 0, 0x8086, 0x29C0);
  board.add_function(1, 2, 0, 0xFFFF, 0x1234);  // not all ones: listed
  board.add_function(0, 31, 0, 0x8086, 0x2918).set8(0x0E, 0x80);
  board.add_function(0, 31, 2, 0x8086, 0x2922);
  for (int fn = 0; fn < 8; ++fn) board.add_function(0, 5, fn, 0x10EC, 0x8139);  // ignores the function number
  board.add_function(2, 0, 0, 0x1B36, 0x000C).retry_reads = 3;
  board.add_function(2, 1, 0, 0x1B36, 0x000D).retry_reads = 1000;

  pci::DeviceTable table;
  EXPECT_EQ(pci::scan(table), 7);
  ASSERT_EQ(table.count, 7);
  EXPECT_EQ(board.total_stall_us, 7000u + 1023000u);
  const int32_t expected[7][5] = {{0, 0, 0, 0x29C0, 0x8086},  {0, 5, 0, 0x8139, 0x10EC}, {0, 31, 0, 0x2918, 0x8086},
                                  {0, 31, 2, 0x2922, 0x8086}, {1, 2, 0, 0x1234, 0xFFFF}, {2, 0, 0, 0x000C, 0x1B36},
                                  {255, 31, 0, 0x0001, 0x8086}};
  for (int i = 0; i < 7; ++i) {
    const pci::TableEntry& e = table.entries[i];
    EXPECT_EQ((std::vector<int32_t>{e.bdf.bus, e.bdf.device, e.bdf.function, e.device_id, e.vendor_id}),
              (std::vector<int32_t>(expected[i], expected[i] + 5)))
        << "entry " << i;
  }

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
  // Every function was still probed.
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

TEST_F(PciAccessTest, WritesFollowTheirWidthsAccessByAccess) {
  sim::PciFunction& f = board.add_function(0, 2, 0, 0x8086, 0x1234);
  f.set32(0x04, 0x00100007);
  f.set_writable(0x04, 4, 0xFFFFFFFF);
  f.set32(0x0C, 0xAABBCCDD);
  f.set_writable(0x0C, 4, 0xFFFFFFFF);
  f.set_writable(0x10, 4, 0xFFFFFFFF);
  const pci::Bdf fn = {0, 0, 2, 0};
  const uint32_t a = pci::config_address(0, 2, 0);
  // The firmware's CF8, put back; its timer event, held off for each pair.
  board.cf8 = 0x8000F8ACu, board.timer_cf8 = 0x8000F83Cu;
  const sim::Access save = in32(0xCF8, 0x8000F8AC), back = out32(0xCF8, 0x8000F8AC);

  board.clear_log();
  pci::config_write(fn, 0x05, 1, 0x5A);
  EXPECT_EQ(board.log(), (std::vector<sim::Access>{save, out32(0xCF8, a + 4), sim::out8(0xCFD, 0x5A), back}));

  board.clear_log();
  pci::config_write(fn, 0x0E, 2, 0x1234);
  EXPECT_EQ(board.log(), (std::vector<sim::Access>{save, out32(0xCF8, a + 0x0C), sim::out16(0xCFE, 0x1234), back}));

  board.clear_log();
  pci::config_write(fn, 0x0C, 2, 0x5678);
  EXPECT_EQ(board.log()[2], sim::out16(0xCFC, 0x5678));
  EXPECT_EQ(std::make_pair(f.get32(0x04), f.get32(0x0C)), std::make_pair(0x00105A07u, 0x12345678u));

  board.clear_log();
  pci::config_write(fn, 0x10, 4, 0x12345678);
  EXPECT_EQ(board.log(), (std::vector<sim::Access>{save, out32(0xCF8, a + 0x10), out32(0xCFC, 0x12345678), back}));
}

// RW1C bits of Status, Secondary, Device and Link Status beside a write.
TEST_F(PciAccessTest, StatusBitsSurviveWritesToTheirNeighbours) {
  const int kCases[][3] = {{0x06, 0xF900, 0x04}, {0x1E, 0xF900, 0x1C}, {0x4A, 0x000F, 0x48}, {0x52, 0xC000, 0x50}};
  for (const auto& c : kCases) {
    for (int width : {1, 2}) {
      sim::PciFunction& f = board.add_function(0, 3, 0, 0x8086, 0x1234);
      f.set_writable(c[2], width, 0xFFFF);
      f.set_clears(c[0], 2, static_cast<uint32_t>(c[1])), f.set16(c[0], static_cast<uint16_t>(c[1]));
      pci::config_write({0, 0, 3, 0}, static_cast<uint32_t>(c[2]), width, 0x07);
      EXPECT_EQ(f.read(c[0], 2), static_cast<uint32_t>(c[1])) << c[0] << " width " << width;
      EXPECT_EQ(f.read(c[2], width), 0x07u) << c[2];
    }
  }
}

// Memory Address: PCIEXBAR only on known Intel host bridges; else MCFG; else 0.
TEST_F(PciAccessTest, MemoryAddressFromAKnownPciexbarElseTheMcfg) {
  const struct { uint32_t host_id, low, high; bool mcfg; pci::Bdf f; uint64_t address; } kCases[] = {
      {0x29C08086, 0xE0000001, 0, true, {0, 0, 0x1C, 0}, 0xE00E0000u},
      {0x29C08086, 0xE0000000, 0, true, {0, 1, 0, 0}, 0xB0100000u},        // off: the MCFG
      {0x29C08086, 0xFC000005, 4, true, {0, 1, 0, 0}, 0x4FC100000ull},     // 64 MiB above 4 GiB
      {0x29C08086, 0xFC000005, 4, true, {0, 0x40, 0, 0}, 0xB4000000u},     // past its 64 buses
      {0x14801022, 0x13B10001, 0, true, {0, 1, 0, 0}, 0xB0100000u},        // AMD: an index register
      {0x12378086, 0x10080401, 0, false, {0, 1, 0, 0}, 0},                 // i440FX: DRAM rows
  };
  for (const auto& c : kCases) {
    sim::PciFunction& host = board.add_function(0, 0, 0, 0, 0);
    host.set32(0x00, c.host_id), host.set32(0x60, c.low), host.set32(0x64, c.high);
    board.config_tables.clear();
    if (c.mcfg) sim::install_acpi(board, 0x1F700000u, {{0xB0000000u, 0, 0, 255}});
    pci::forget_board(), board.clear_log();
    const pci::MappedAddress m = pci::memory_address(c.f);
    EXPECT_EQ(m.present ? m.address : 0, c.address) << std::hex << c.host_id << " " << c.low;
    EXPECT_EQ(std::count(board.log().begin(), board.log().end(), out32(0xCF8, 0x80000060)), c.host_id == 0x29C08086);
  }
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
      {Board::kTwoSegments, {1, 1, 0, 0}, 0x3C, 1, 1},   // outside segment 0: memory only
      {Board::kTwoSegments, {1, 4, 0, 0}, 0x3C, 1, -1},  // past the segment's buses
  };
  for (const auto& c : kCases) {
    sim::Board b;
    sim::set_board(&b);
    sim::build_q35(b);
    for (int o = 0x100; o < 0x1000; o += 4) b.function(0, 4, 0)->set_writable(o, 4, 0xFFFFFFFF);
    if (c.board != Board::kQ35) b.config_tables.clear();
    if (c.board == Board::kNoMemoryMapped) b.function(0, 0, 0)->set32(0x60, 0);
    if (c.board == Board::kMcfgOnRam) sim::install_acpi(b, 0x1F700000u, {{0x10000000u, 0, 0, 255}});
    if (c.board == Board::kTwoSegments) sim::add_second_segment(b, 0xE0000000u).set_writable(0x3C, 1, 0xFF);
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
