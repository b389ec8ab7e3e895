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

TEST_F(PciAccessTest, ScanProbesEveryFunctionInOrderAndListsWhatAnswers) {
  board.add_function(255, 31, 7, 0x8086, 0x0001);
  board.add_function(0, 3, 7, 0x10EC, 0x8139);  // function 7 without function 0
  board.add_function(0, 0, 0, 0x8086, 0x29C0);
  board.add_function(1, 2, 0, 0xFFFF, 0x1234);  // not all ones: listed
  board.add_function(0, 31, 2, 0x8086, 0x2922);

  pci::DeviceTable table;
  EXPECT_EQ(pci::scan(table), 5);
  ASSERT_EQ(table.count, 5);
  const int32_t expected[5][5] = {{0, 0, 0, 0x29C0, 0x8086},
                                  {0, 3, 7, 0x8139, 0x10EC},
                                  {0, 31, 2, 0x2922, 0x8086},
                                  {1, 2, 0, 0x1234, 0xFFFF},
                                  {255, 31, 7, 0x0001, 0x8086}};
  for (int i = 0; i < 5; ++i) {
    const pci::TableEntry& e = table.entries[i];
    EXPECT_EQ((std::vector<int32_t>{e.bdf.bus, e.bdf.device, e.bdf.function, e.device_id, e.vendor_id}),
              (std::vector<int32_t>(expected[i], expected[i] + 5)))
        << "entry " << i;
  }

  // One address write and one data read per probe, bus outermost, function
  // innermost, nothing else.
  const auto& log = board.log();
  ASSERT_EQ(log.size(), 2u * 65536u);
  uint32_t address = 0x80000000u;
  for (size_t i = 0; i < log.size(); i += 2, address += 0x100) {
    ASSERT_EQ(log[i], out32(0xCF8, address)) << i;
    ASSERT_EQ(log[i + 1].op, sim::Op::kPortIn);
    ASSERT_EQ(log[i + 1].addr, 0xCFCu);
    ASSERT_EQ(log[i + 1].width, 32);
  }
}

TEST_F(PciAccessTest, ScanStopsStoringAtTableCapacityWithoutOverflow) {
  // 3 buses x 32 devices x 8 functions = 768 functions.
  for (int bus = 0; bus < 3; ++bus) {
    for (int dev = 0; dev < 32; ++dev) {
      for (int fn = 0; fn < 8; ++fn) board.add_function(bus, dev, fn, 0x8086, static_cast<uint16_t>(bus * 256 + dev * 8 + fn));
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
  EXPECT_EQ(board.log().size(), 2u * 65536u);
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
  ASSERT_EQ(board.log().size(), 128u);
  EXPECT_EQ(board.log()[126], out32(0xCF8, 0x800020FCu));
  EXPECT_EQ(board.log()[127], in32(0xCFC, 0xA1B2C3D4u));

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

  board.clear_log();
  pci::config_write(fn, 0x05, 1, 0x5A);
  EXPECT_EQ(board.log(), (std::vector<sim::Access>{out32(0xCF8, a + 4), in32(0xCFC, 0x00100007), out32(0xCF8, a + 4),
                                                   out32(0xCFC, 0x00105A07)}));

  board.clear_log();
  pci::config_write(fn, 0x0E, 2, 0x1234);
  EXPECT_EQ(board.log(), (std::vector<sim::Access>{out32(0xCF8, a + 0x0C), in32(0xCFC, 0xAABBCCDD),
                                                   out32(0xCF8, a + 0x0C), out32(0xCFC, 0x1234CCDD)}));

  board.clear_log();
  pci::config_write(fn, 0x0C, 2, 0x5678);
  EXPECT_EQ(board.log().back(), out32(0xCFC, 0x12345678));

  board.clear_log();
  pci::config_write(fn, 0x10, 4, 0x12345678);
  EXPECT_EQ(board.log(), (std::vector<sim::Access>{out32(0xCF8, a + 0x10), out32(0xCFC, 0x12345678)}));
}

TEST_F(PciAccessTest, ExtendedAddressComesFromRegister60OfHostBridge) {
  sim::PciFunction& host = board.add_function(0, 0, 0, 0x8086, 0x29C0);
  host.set32(0x60, 0xE0000001);
  EXPECT_EQ(pci::extended_address({0, 1, 0, 0}), 0xE0100000u);
  EXPECT_EQ(pci::extended_address({0, 0, 0x1C, 0}), 0xE00E0000u);
  EXPECT_EQ(pci::extended_address({0, 0, 31, 7}), 0xE00FF000u);
  host.set32(0x60, 0xE0000000);
  EXPECT_EQ(pci::extended_address({0, 1, 0, 0}), 0xE0100000u);
  // 32-bit arithmetic: bus 0x10 past 0xFF000000 wraps around 4 GiB.
  host.set32(0x60, 0xFF000000);
  EXPECT_EQ(pci::extended_address({0, 0x10, 0, 0}), 0x00000000u);
  host.set32(0x60, 0xE0000000);
  // Read afresh every time: one dword pair each.
  board.clear_log();
  pci::extended_address({});
  EXPECT_EQ(board.log(), (std::vector<sim::Access>{out32(0xCF8, 0x80000060), in32(0xCFC, 0xE0000000)}));
}

// The choke point picks the method by offset, width and what the board has;
// where none reaches, a read is all ones and nothing is written.
TEST_F(PciAccessTest, ConfigAccessPicksTheMethodByOffsetWidthAndBoard) {
  enum class Board { kQ35, kNoMemoryMapped, kMcfgOnRam };
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
  };
  for (const auto& c : kCases) {
    sim::Board b;
    sim::set_board(&b);
    sim::build_q35(b);
    for (int o = 0x100; o < 0x1000; o += 4) b.function(0, 4, 0)->set_writable(o, 4, 0xFFFFFFFF);
    if (c.board != Board::kQ35) b.config_tables.clear();
    if (c.board == Board::kNoMemoryMapped) b.function(0, 0, 0)->set32(0x60, 0);
    if (c.board == Board::kMcfgOnRam) sim::install_acpi(b, 0x1F700000u, {{0x10000000u, 0, 0, 255}});
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
