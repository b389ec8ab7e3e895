// Memory and I/O windows and writes as the access log sees them.
#include <gtest/gtest.h>

#include "hw/memio.h"
#include "platform/sim/board.h"
#include "support.h"

namespace kvq {
namespace {

using sim::Access;
using sim::out8;

using MemIoTest = test::BoardTest;

TEST_F(MemIoTest, WindowsAreByteReadsInAscendingOrderThatWrap) {
  board.ram_poke(0xFFFFFFFF, 0xAB);
  board.ram_poke(0x00000000, 0xCD);
  RegisterWindow w;
  memio::read_memory_window(0xFFFFFF80u, w);
  ASSERT_EQ(board.log().size(), 256u);
  for (uint32_t i = 0; i < 256; ++i) {
    const Access& a = board.log()[i];
    ASSERT_EQ(a.op, sim::Op::kMemRead);
    ASSERT_EQ(a.width, 8);
    ASSERT_EQ(a.addr, 0xFFFFFF80u + i) << i;
  }
  EXPECT_EQ(w.bytes[127], 0xAB);
  EXPECT_EQ(w.bytes[128], 0xCD);

  board.clear_log();
  memio::read_io_window(0xFFF0, w);
  ASSERT_EQ(board.log().size(), 256u);
  for (int i = 0; i < 256; ++i) {
    const Access& a = board.log()[i];
    ASSERT_EQ(a.op, sim::Op::kPortIn);
    ASSERT_EQ(a.width, 8);
    ASSERT_EQ(a.addr, static_cast<uint16_t>(0xFFF0 + i)) << i;
  }
  EXPECT_EQ(w.bytes[0], 0xFF);  // nothing claims these ports
}

TEST_F(MemIoTest, PortWritesGoByteByByteFromTheHighestPortDown) {
  memio::write_io(0x80, 1, 0x5A);
  EXPECT_EQ(board.log(), (std::vector<Access>{out8(0x80, 0x5A)}));
  board.clear_log();
  memio::write_io(0x80, 2, 0x1234);
  EXPECT_EQ(board.log(), (std::vector<Access>{out8(0x81, 0x12), out8(0x80, 0x34)}));
  board.clear_log();
  memio::write_io(0xFFFE, 4, 0xAABBCCDD);
  EXPECT_EQ(board.log(),
            (std::vector<Access>{out8(0x0001, 0xAA), out8(0x0000, 0xBB), out8(0xFFFF, 0xCC), out8(0xFFFE, 0xDD)}));
}

TEST_F(MemIoTest, MemoryWritesAreOneStoreOfTheirWidthAtAnyAlignment) {
  memio::write_memory(0x1001, 2, 0x1234);
  memio::write_memory(0x2003, 4, 0xAABBCCDD);
  memio::write_memory(0x3000, 1, 0x5A);
  EXPECT_EQ(board.log(), (std::vector<Access>{sim::wr(16, 0x1001, 0x1234), sim::wr(32, 0x2003, 0xAABBCCDD),
                                              sim::wr(8, 0x3000, 0x5A)}));
  EXPECT_EQ(board.ram_peek(0x1001), 0x34);
  EXPECT_EQ(board.ram_peek(0x1002), 0x12);
  EXPECT_EQ(board.ram_peek(0x2003), 0xDD);
  EXPECT_EQ(board.ram_peek(0x2006), 0xAA);
}

}  // namespace
}  // namespace kvq
