// Memory and I/O windows and writes as the access log sees them.
#include <gtest/gtest.h>

#include "hw/apic.h"
#include "hw/memio.h"
#include "platform/sim/board.h"
#include "platform/sim/paging_sim.h"
#include "support.h"

namespace kvq {
namespace {

using sim::Access;
using sim::Op;
using memio::Refusal;

class MemIoTest : public test::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    apic::forget_board();
  }
  // The log's accesses of one kind.
  std::vector<Access> only(Op a, Op b) const {
    std::vector<Access> out;
    for (const Access& x : board.log()) {
      if (x.op == a || x.op == b) out.push_back(x);
    }
    return out;
  }
};

// One access per cell at the width shown, ascending; an unaligned base is
// read in bytes; memory below 4 GiB and ports wrap.
TEST_F(MemIoTest, WindowsAreReadACellAtATimeAtTheirWidth) {
  const struct {
    const char* what;
    bool io;
    uint64_t base;
    int size;
    int width;  // of every read
    uint64_t last;
  } kCases[] = {
      {"memory bytes", false, 0x1000, 1, 8, 0x10FF},
      {"memory words", false, 0x1000, 2, 16, 0x10FE},
      {"memory dwords across 4 GiB", false, 0xFFFFFF80u, 4, 32, 0x7C},
      {"memory dwords from an unaligned base", false, 0x1002, 4, 8, 0x1101},
      {"port words across 0x10000", true, 0xFFF0, 2, 16, 0xEE},
      {"port dwords", true, 0x6100, 4, 32, 0x61FC},
      {"port words from an odd base", true, 0x71, 2, 8, 0x170},
  };
  for (uint64_t a = 0xFFFFFF80u; a != 0x80; a = (a + 1) & 0xFFFFFFFFu) board.ram_poke(a, static_cast<uint8_t>(a * 7));
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    board.clear_log();
    RegisterWindow w;
    if (c.io) {
      memio::read_io_window(static_cast<uint16_t>(c.base), c.size, w);
    } else {
      memio::read_memory_window(c.base, c.size, w);
    }
    const std::vector<Access> reads = only(Op::kMemRead, Op::kPortIn);
    ASSERT_EQ(reads.size(), static_cast<size_t>(256 * 8 / c.width));
    for (size_t i = 0; i < reads.size(); ++i) {
      const uint64_t at = memio::window_address(c.base, i * static_cast<uint64_t>(c.width / 8));
      ASSERT_EQ(reads[i].width, c.width) << i;
      ASSERT_EQ(reads[i].addr, c.io ? at & 0xFFFF : at) << i;
    }
    EXPECT_EQ(reads.back().addr, c.last);
    for (int i = 0; !c.io && i < 256; ++i) {
      ASSERT_EQ(w.bytes[i], board.ram_peek(memio::window_address(c.base, static_cast<uint64_t>(i)))) << i;
    }
  }
}

// A port write is one OUT of its width at any port; a memory word or dword
// is stored only at an address aligned to it.
TEST_F(MemIoTest, AWriteIsOneAccessOfItsWidth) {
  const struct {
    const char* what;
    bool io;
    uint64_t at;
    int size;
    Refusal refused;
    std::vector<Access> writes;
  } kCases[] = {
      {"port word", true, 0x80, 2, Refusal::kNone, {sim::out16(0x80, 0x2211)}},
      {"port dword at an odd port", true, 0x81, 4, Refusal::kNone, {sim::out32(0x81, 0x44332211)}},
      {"memory byte", false, 0x3001, 1, Refusal::kNone, {sim::wr(8, 0x3001, 0x11)}},
      {"memory word", false, 0x1002, 2, Refusal::kNone, {sim::wr(16, 0x1002, 0x2211)}},
      {"memory word at an odd address", false, 0x1001, 2, Refusal::kUnaligned, {}},
      {"memory dword at 2 mod 4", false, 0x2002, 4, Refusal::kUnaligned, {}},
  };
  for (const auto& c : kCases) {
    board.clear_log();
    const uint32_t value = 0x44332211u & (c.size == 4 ? ~0u : (1u << (8 * c.size)) - 1);
    if (c.io) {
      memio::write_io(static_cast<uint16_t>(c.at), c.size, value);
    } else {
      EXPECT_EQ(memio::write_value(c.at, c.size, value), c.refused) << c.what;
    }
    EXPECT_EQ(only(Op::kMemWrite, Op::kPortOut), c.writes) << c.what;
  }
}

// A firmware timer event unmaps the page right after a walk made while
// events may run: the walk and its accesses are one step, so the access
// never lands on the page the event took away, and the next walk sees it
// gone.
TEST_F(MemIoTest, APageUnmappedBetweenWalkAndAccessIsNeverTouched) {
  const struct {
    const char* what;
    std::function<bool()> access;  // true when it reached the page
  } kCases[] = {
      {"window",
       [] {
         RegisterWindow w;
         memio::read_memory_window(0x2000, 4, w);
         return !w.absent[0];
       }},
      {"value entry", [] { return memio::write_value(0x2004, 4, 0x5A) == Refusal::kNone; }},
      {"configuration store", [] { return memio::write_memory(0x2008, 2, 0x5A); }},
  };
  for (const auto& c : kCases) {
    sim::PageTables tables(board, sim::PageTables::Shape::k4Level, 0x10000000u);
    tables.map(0, 2u << 20, 4096);
    board.check_page_faults = true;
    board.timer_event = [&tables] { tables.unmap(0x2000); };
    EXPECT_TRUE(c.access()) << c.what;
    EXPECT_FALSE(board.timer_event) << c.what << ": the event ran once events were allowed again";
    EXPECT_EQ(board.tpl, 4u) << c.what;
    EXPECT_FALSE(c.access()) << c.what;
    EXPECT_EQ(board.faults, std::vector<Access>{}) << c.what;
  }
}

}  // namespace
}  // namespace kvq
