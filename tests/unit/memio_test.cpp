// Memory and I/O windows and writes as the access log sees them.
#include <gtest/gtest.h>

#include "hw/memio.h"
#include "platform/sim/board.h"
#include "platform/sim/paging_sim.h"
#include "support.h"

namespace kvq {
namespace {

using sim::Access;

using MemIoTest = test::BoardTest;

// One access per cell at the width shown, ascending; an unaligned base is
// read in bytes; memory below 4 GiB and ports wrap.
TEST_F(MemIoTest, WindowsAreReadACellAtATimeAtTheirWidth) {
  const struct {
    const char* what;
    bool io;
    uint64_t base;
    int size, width;  // asked for, and of every read
  } kCases[] = {
      {"memory bytes", false, 0x1000, 1, 8},
      {"memory words", false, 0x1000, 2, 16},
      {"memory dwords across 4 GiB", false, 0xFFFFFF80u, 4, 32},
      {"memory dwords from an unaligned base", false, 0x1002, 4, 8},
      {"port words across 0x10000", true, 0xFFF0, 2, 16},
      {"port dwords", true, 0x6100, 4, 32},
      {"port words from an odd base", true, 0x71, 2, 8},
  };
  board.memory_space = {{0, uint64_t{1} << 40, plat::GcdType::kSystemMemory}};  // RAM: no APIC's page
  for (uint64_t a = 0xFFFFFF80u; a != 0x80; a = (a + 1) & 0xFFFFFFFFu) board.ram_poke(a, static_cast<uint8_t>(a * 7));
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    board.clear_log();
    RegisterWindow w;
    c.io ? memio::read_io_window(static_cast<uint16_t>(c.base), c.size, w) : memio::read_memory_window(c.base, c.size, w);
    const std::vector<Access>& reads = board.log();
    ASSERT_EQ(reads.size(), static_cast<size_t>(256 * 8 / c.width));
    for (size_t i = 0; i < reads.size(); ++i) {
      const uint64_t at = memio::window_address(c.base, i * static_cast<uint64_t>(c.width / 8));
      ASSERT_EQ(reads[i].width, c.width) << i;
      ASSERT_EQ(reads[i].addr, c.io ? at & 0xFFFF : at) << i;
    }
    for (int i = 0; !c.io && i < 256; ++i) {
      ASSERT_EQ(w.bytes[i], board.ram_peek(memio::window_address(c.base, static_cast<uint64_t>(i)))) << i;
    }
  }
}

// A firmware timer event unmaps the page right after a walk made while
// events may run: the walk and its accesses are one step, so no access
// lands on the page the event took away, and the next walk sees it gone.
TEST_F(MemIoTest, APageUnmappedBetweenWalkAndAccessIsNeverTouched) {
  const struct {
    const char* what;
    std::function<bool()> access;  // true when it reached the page
  } kCases[] = {
      {"window", [] { RegisterWindow w; memio::read_memory_window(0x2000, 4, w); return !w.absent[0]; }},
      {"value entry", [] { return memio::write_value(0x2004, 4, 0x5A) == memio::Refusal::kNone; }},
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
