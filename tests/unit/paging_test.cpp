// The page-table walk over every shape of tables the firmware may leave,
// with the answers a read and a write get.
#include <gtest/gtest.h>

#include <functional>

#include "platform/paging.h"
#include "platform/sim/paging_sim.h"
#include "support.h"

namespace kvq {
namespace {

using Shape = sim::PageTables::Shape;
using paging::Access;

constexpr uint64_t k4K = 4096, k2M = 2u << 20, k4M = 4u << 20, k1G = 1u << 30;

// The processor: its physical address bits, last extended leaf, and SME's
// C-bit in leaf 8000001Fh (-1: no SME).
struct Cpu {
  int bits = 52;
  uint32_t last_leaf = 0x80000008u;
  int c_bit = -1;
};

void set_cpu(sim::Board& board, const Cpu& c) {
  auto& leaves = board.cpu.cpus[0].leaves;
  leaves[{0x80000000u, sim::kAnySubleaf}] = {c.last_leaf, 0, 0, 0};
  leaves[{0x80000008u, sim::kAnySubleaf}] = {static_cast<uint32_t>(c.bits), 0, 0, 0};
  leaves[{0x8000001Fu, sim::kAnySubleaf}] = {c.c_bit < 0 ? 0u : 1u, static_cast<uint32_t>(c.c_bit), 0, 0};
}

// The first 2 MiB in 4 KiB pages, CR3 and every entry carrying `bit`.
std::function<void(sim::PageTables&)> high_bits(int bit) {
  return [bit](sim::PageTables& t) {
    t.set_high_bits(uint64_t{1} << bit);
    t.map(0, 2u << 20, 4096);
  };
}

TEST(PagingTest, TheWalkAnswersForEveryShape) {
  struct Probe {
    uint64_t address;
    bool read;
    bool write;
  };
  const struct {
    const char* what;
    Shape shape;
    std::function<void(sim::PageTables&)> map;
    std::vector<Probe> probes;
    Cpu cpu = {};
  } kCases[] = {
      {"paging off: the first 4 GiB", Shape::kOff, [](sim::PageTables&) {},
       {{0, true, true}, {0xFFFFF000u, true, true}, {0x100000000ull, false, false}}},
      {"32-bit, 4 MiB pages", Shape::k32Bit, [](sim::PageTables& t) { t.map(0, 2 * k4M, k4M); },
       {{0x7FF000, true, true}, {0x800000, false, false}, {0x100000000ull, false, false}}},
      {"32-bit, 4 KiB pages", Shape::k32Bit, [](sim::PageTables& t) { t.map(0x3000, k4K, k4K); },
       {{0x3FFF, true, true}, {0x2000, false, false}}},
      {"PAE, 2 MiB and 4 KiB pages",
       Shape::kPae,
       [](sim::PageTables& t) {
         t.map(0, k4M, k2M);
         t.map(k4M, 2 * k4K, k4K);
       },
       {{0x3FF000, true, true}, {0x401000, true, true}, {0x402000, false, false}, {0xC0000000u, false, false}}},
      {"4-level, 2 MiB and 1 GiB pages",
       Shape::k4Level,
       [](sim::PageTables& t) {
         t.map(0, k2M, k2M);
         t.map(0xE000000000ull, k1G, k1G);
       },
       {{0x1FF000, true, true}, {0xE03FFFF000ull, true, true}, {0xE040000000ull, false, false}}},
      {"4-level: nothing from 2^47 up", Shape::k4Level, [](sim::PageTables& t) { t.map(0, k1G, k1G); },
       {{0x7FFFFFFFF000ull, false, false}, {0x800000000000ull, false, false}}},
      {"5-level reaches past 2^47", Shape::k5Level, [](sim::PageTables& t) { t.map(0x800000000000ull, k1G, k1G); },
       {{0x800000001000ull, true, true}, {0x7FFFFFFFF000ull, false, false}}},
      {"a hole at page 0",
       Shape::k4Level,
       [](sim::PageTables& t) {
         t.map(0, k2M, k4K);
         t.unmap(0);
       },
       {{0, false, false}, {0xFFF, false, false}, {0x1000, true, true}}},
      {"a hole under a present 1 GiB entry", Shape::k4Level, [](sim::PageTables& t) { t.map(0, k2M, k2M); },
       {{0x1FF000, true, true}, {0x200000, false, false}}},
      {"a read-only page", Shape::k4Level, [](sim::PageTables& t) { t.map(0x5000, k4K, k4K, false); },
       {{0x5000, true, false}}},
      // Entry addresses end at the processor's width, without the C-bit of
      // firmware that encrypts memory, when CPUID reports one.
      {"bits above a 40-bit width", Shape::k4Level, high_bits(45), {{0x1000, true, true}}, {.bits = 40}},
      {"SME's C-bit 47", Shape::k4Level, high_bits(47), {{0x1000, true, true}},
       {.bits = 48, .last_leaf = 0x8000001Fu, .c_bit = 47}},
      {"leaf 8000001Fh beyond the last extended leaf", Shape::k4Level, high_bits(47), {{0x1000, false, false}},
       {.bits = 48, .last_leaf = 0x80000008u, .c_bit = 47}},
  };
  for (const auto& c : kCases) {
    sim::Board board;
    sim::set_board(&board);
    set_cpu(board, c.cpu);
    sim::PageTables tables(board, c.shape, 0x10000000u);
    c.map(tables);
    for (const Probe& p : c.probes) {
      EXPECT_EQ(plat::page_mapped(p.address, Access::kRead), p.read) << c.what << std::hex << " at " << p.address;
      EXPECT_EQ(plat::page_mapped(p.address, Access::kWrite), p.write) << c.what << std::hex << " at " << p.address;
    }
    EXPECT_TRUE(board.log().empty()) << c.what << ": the walk is the processor's, not kvq's";
    sim::set_board(nullptr);
  }
}

}  // namespace
}  // namespace kvq
