// Page tables for the simulated board, built in its RAM the way firmware
// builds them: identity maps of chosen ranges with 4 KiB, 2 MiB, 4 MiB or
// 1 GiB pages, and nothing where nothing is mapped. Tests shape them to
// give the board holes, large pages and five levels.
#pragma once
#include <cstdint>

#include "platform/sim/board.h"

namespace kvq::sim {

class PageTables {
 public:
  enum class Shape : uint8_t { kOff, k32Bit, kPae, k4Level, k5Level };

  // Empty tables from `at` (4 KiB aligned) upward in the board's RAM; the
  // board's registers then point at them (paging on, writes protected).
  PageTables(Board& board, Shape shape, uint64_t at);

  // Maps [base, base + length) to itself with pages of `page_size`, a size
  // the shape has. Writable unless `writable` is false.
  void map(uint64_t base, uint64_t length, uint64_t page_size, bool writable = true);
  // Clears the present bit of the 4 KiB page's own entry (its 4 KiB entry,
  // or the large page that holds it).
  void unmap(uint64_t page);
  // Bits that CR3 and every entry written from now on carry above the
  // address: the C-bit of firmware that encrypts memory, say.
  void set_high_bits(uint64_t bits);

 private:
  struct Level {
    int shift;
    int index_bits;
    int entry_bytes;
  };
  uint64_t entry_address(int level, uint64_t table, uint64_t address) const;
  uint64_t read_entry(uint64_t at, int bytes) const;
  void write_entry(uint64_t at, int bytes, uint64_t value);
  uint64_t new_table();

  Board& board_;
  const Level* levels_ = nullptr;
  int count_ = 0;
  uint64_t top_ = 0;
  uint64_t next_ = 0;
  uint64_t high_bits_ = 0;
};

// The live tables' answer for `address`, as the processor walks them (its
// CPUID gives the address width and any encryption bit).
bool tables_map(const Board& board, uint64_t address, paging::Access access);

// Runs the board's pending timer event, if the TPL lets firmware events run.
void run_timer_event(Board& board);

// What a new board has: 4-level tables at the top of its first 512 MiB that
// map the first 1 TiB with 1 GiB pages.
void map_like_ovmf(Board& board);

}  // namespace kvq::sim
